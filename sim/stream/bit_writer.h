// Writes a bitstream most significant bit first, as the MPEG video syntax
// is laid out.
#pragma once

#include <cstdint>
#include <vector>

namespace sim {

class BitWriter {
 public:
  // Appends the `bits` low bits of `value` (at most 32).
  void Put(uint32_t value, int bits);
  // Pads with zero bits up to the next byte boundary.
  void AlignWithZeros();
  // Appends whole bytes; the writer must be byte aligned.
  void PutBytes(const std::vector<uint8_t>& bytes);
  bool Aligned() const { return pending_ == 0; }
  // The bytes written; the writer must be byte aligned.
  std::vector<uint8_t> Take();

 private:
  std::vector<uint8_t> bytes_;
  uint8_t current_ = 0;
  int pending_ = 0;  // bits already in current_
};

}  // namespace sim
