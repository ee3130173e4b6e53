// dtvctl capture: runs the capture pin and writes exactly the bytes the reads
// delivered, in order.
#include <fmt/format.h>

#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>

#include "adapter/device_context.h"
#include "capture.h"
#include "commands.h"

namespace dtv {

int RunCapture(const GlobalOptions& global, const CaptureOptions& options) {
  bool toStdout = options.out == "-";
  FILE* out = toStdout ? stdout : std::fopen(options.out.c_str(), "wb");
  if (out == nullptr) {
    std::cerr << "dtvctl: cannot open " << options.out << " for writing\n";
    return 2;
  }
  int exitCode = 0;
  std::unique_ptr<Host> host = StartHost(global, &exitCode);
  if (host == nullptr) {
    if (!toStdout) {
      std::fclose(out);
    }
    return exitCode;
  }
  CaptureSettings settings;
  settings.bytes = options.bytes;
  settings.seconds = options.seconds;
  settings.readsInFlight = options.readsInFlight;
  settings.untilSourceEnds = !global.input.empty();
  CaptureResult result = Capture(*host, settings, [out](const uint8_t* data, size_t size) {
    return std::fwrite(data, 1, size, out) == size;
  });
  bool closed = std::fflush(out) == 0 && (toStdout || std::fclose(out) == 0);
  if (!NT_SUCCESS(result.status)) {
    std::cerr << "dtvctl: " << result.failure << "\n";
    return 1;
  }
  const auto* device = static_cast<const DeviceContext*>(host->Adapter().DeviceExtension());
  uint32_t totalBytes = device->CaptureStats.TotalBytes;
  double rate = result.seconds > 0 ? result.bytes / result.seconds / 1e6 : 0;
  std::ostream& report = toStdout ? std::cerr : std::cout;
  if (global.json) {
    report << nlohmann::json{{"bytes", result.bytes},
                             {"reads", result.reads},
                             {"failed_reads", result.failedReads},
                             {"total_bytes_counter", totalBytes},
                             {"seconds", result.seconds},
                             {"megabytes_per_second", rate}}
                  .dump(2)
           << "\n";
  } else {
    report << fmt::format(
        "captured {} bytes in {} reads ({} failed) in {:.2f} s, {:.1f} MB/s; driver TotalBytes {}\n",
        result.bytes, result.reads, result.failedReads, result.seconds, rate, totalBytes);
  }
  if (result.sinkFailed || !closed) {
    std::cerr << "dtvctl: writing " << options.out << " failed\n";
    return 1;
  }
  return 0;
}

}  // namespace dtv
