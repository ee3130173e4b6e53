// Source reading for the tests.
#include "stream_capture.h"

#include <algorithm>

#include "stream/multiplex.h"

namespace sim::test {

std::vector<uint8_t> ReadSource(TsSource& source, size_t chunk, size_t limit) {
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> buffer(chunk);
  while (bytes.size() < limit) {
    const size_t count = source.Read(buffer.data(), std::min(chunk, limit - bytes.size()));
    if (count == 0) {
      break;
    }
    bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + static_cast<ptrdiff_t>(count));
  }
  return bytes;
}

PacketList CaptureMultiplex(double seconds) {
  Multiplex multiplex(MultiplexConfig{seconds});
  return PacketList(ReadSource(multiplex, 64 * 1024));
}

}  // namespace sim::test
