// dtvctl's commands. Each returns the process exit code: 0 on success, 1
// when the device or the driver refused or failed, 2 for bad input.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host.h"

namespace dtv {

struct GlobalOptions {
  bool json = false;
  bool verbose = false;
  bool presenceKeys = true;
  std::string input;
  std::vector<std::string> sim;
};

struct CaptureOptions {
  std::string out;
  uint64_t bytes = 0;
  double seconds = 0;
  int readsInFlight = 4;
};

struct GenerateOptions {
  std::string out;
  double seconds = 10;
};

int RunInfo(const GlobalOptions& global);
int RunCapture(const GlobalOptions& global, const CaptureOptions& capture);
int RunGenerate(const GlobalOptions& global, const GenerateOptions& generate);

// Builds and starts the host for a command; null after printing why (the
// exit code goes to *exitCode).
std::unique_ptr<Host> StartHost(const GlobalOptions& global, int* exitCode);

}  // namespace dtv
