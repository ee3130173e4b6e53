// A source of transport-stream bytes: the receiver's bulk pipe pulls its
// stream from one.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

class TsSource {
 public:
  virtual ~TsSource() = default;
  // Copies up to `size` bytes of the stream into `out`; returns the number of
  // bytes copied, 0 once the source is exhausted (an endless source never is).
  virtual size_t Read(uint8_t* out, size_t size) = 0;
};

}  // namespace sim
