// Running the capture pin as a media graph does: open it, run it with several
// reads outstanding, hand every byte the reads delivered to a sink in order,
// stop and close.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "host.h"

namespace dtv {

struct CaptureSettings {
  uint64_t bytes = 0;     // stop after this many bytes; 0: no limit
  double seconds = 0;     // stop after this long; 0: no limit
  int readsInFlight = 4;  // reads kept outstanding on the pin
  // Stop when the receiver's source is exhausted (a file input).
  bool untilSourceEnds = false;
  // Called between reads; may change the driver's analyses while the pin runs.
  std::function<void()> onRead;
};

struct CaptureResult {
  NTSTATUS status = STATUS_SUCCESS;  // a refused open or state change
  std::string failure;               // what was refused, when status fails
  uint64_t bytes = 0;
  uint64_t reads = 0;                // reads completed while running
  uint64_t failedReads = 0;          // of those, reads that did not succeed
  double seconds = 0;
  bool sinkFailed = false;
};

// Returns false to stop the capture (for instance when a write failed).
using CaptureSink = std::function<bool(const uint8_t* data, size_t size)>;

CaptureResult Capture(Host& host, const CaptureSettings& settings, const CaptureSink& sink);

// The pin's format: MPEG-2 transport stream in 24,064-byte samples.
KSDATAFORMAT TransportStreamFormat();

}  // namespace dtv
