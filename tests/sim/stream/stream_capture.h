// Reads sources to their end for the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "stream/ts_source.h"
#include "ts_fields.h"

namespace sim::test {

// Reads `source` in calls of `chunk` bytes until it ends or `limit` bytes
// have come.
std::vector<uint8_t> ReadSource(TsSource& source, size_t chunk,
                                size_t limit = std::numeric_limits<size_t>::max());

// `seconds` of the built-in multiplex.
PacketList CaptureMultiplex(double seconds);

}  // namespace sim::test
