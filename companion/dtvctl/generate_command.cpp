// dtvctl generate: writes the built-in multiplex to a file.
#include <cstdio>
#include <iostream>
#include <vector>

#include "commands.h"
#include "stream/multiplex.h"

namespace dtv {

int RunGenerate(const GlobalOptions& global, const GenerateOptions& options) {
  (void)global;
  FILE* out = std::fopen(options.out.c_str(), "wb");
  if (out == nullptr) {
    std::cerr << "dtvctl: cannot open " << options.out << " for writing\n";
    return 2;
  }
  sim::MultiplexConfig config;
  config.seconds = options.seconds;
  sim::Multiplex multiplex(config);
  std::vector<uint8_t> buffer(188 * 1024);
  bool ok = true;
  uint64_t total = 0;
  for (;;) {
    size_t n = multiplex.Read(buffer.data(), buffer.size());
    if (n == 0) {
      break;
    }
    ok = ok && std::fwrite(buffer.data(), 1, n, out) == n;
    total += n;
  }
  ok = std::fclose(out) == 0 && ok;
  if (!ok) {
    std::cerr << "dtvctl: writing " << options.out << " failed\n";
    return 1;
  }
  std::cout << "wrote " << total << " bytes (" << total / 188 << " packets) to " << options.out
            << "\n";
  return 0;
}

}  // namespace dtv
