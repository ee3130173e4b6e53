// Bit writer of the generated video.
#include "stream/bit_writer.h"

#include <stdexcept>
#include <utility>

namespace sim {

void BitWriter::Put(uint32_t value, int bits) {
  if (bits < 0 || bits > 32) {
    throw std::invalid_argument("BitWriter::Put: width must be 0 to 32 bits");
  }
  for (int bit = bits - 1; bit >= 0; bit--) {
    current_ = static_cast<uint8_t>((current_ << 1) | ((value >> bit) & 1));
    if (++pending_ == 8) {
      bytes_.push_back(current_);
      current_ = 0;
      pending_ = 0;
    }
  }
}

void BitWriter::AlignWithZeros() {
  if (pending_ != 0) {
    Put(0, 8 - pending_);
  }
}

void BitWriter::PutBytes(const std::vector<uint8_t>& bytes) {
  if (!Aligned()) {
    throw std::logic_error("BitWriter::PutBytes: not on a byte boundary");
  }
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
}

std::vector<uint8_t> BitWriter::Take() {
  if (!Aligned()) {
    throw std::logic_error("BitWriter::Take: not on a byte boundary");
  }
  return std::exchange(bytes_, {});
}

}  // namespace sim
