// The host every dtvctl command runs against (see commands.h).
#include <fmt/format.h>

#include <iostream>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "stream/multiplex_plan.h"
#include "sim_options.h"
#include "start_report.h"
#include "status_text.h"

namespace dtv {

std::unique_ptr<Host> StartHost(const GlobalOptions& global, int* exitCode) {
  HostOptions options;
  options.inputPath = global.input;
  options.echoDebug = global.verbose;
  if (global.presenceKeys) {
    options.registryKeys = PresenceKeys();
  }
  // The built-in multiplex comes at its broadcast rate, as from a tuner; a
  // file plays as fast as the pin reads it.
  if (global.input.empty()) {
    options.receiver.paceBytesPerSecond = sim::MultiplexBitrate / 8;
  }
  for (const std::string& option : global.sim) {
    std::string error;
    if (!ApplySimOption(option, &options.receiver, &error)) {
      std::cerr << "dtvctl: " << error << "\n";
      *exitCode = 2;
      return nullptr;
    }
  }
  std::string error;
  std::unique_ptr<Host> host = Host::Create(options, &error);
  if (host == nullptr) {
    std::cerr << "dtvctl: " << error << "\n";
    *exitCode = 2;
    return nullptr;
  }
  NTSTATUS status = host->Start();
  if (!NT_SUCCESS(status)) {
    std::string step = FailedStartStep(*host);
    if (global.json) {
      std::cout << nlohmann::json{{"error", "device start failed"},
                                  {"step", step},
                                  {"status", StatusName(status)}}
                       .dump(2)
                << "\n";
    }
    std::cerr << fmt::format("dtvctl: device start failed while {}: {}\n", step,
                             StatusName(status));
    *exitCode = 1;
    return nullptr;
  }
  return host;
}

}  // namespace dtv
