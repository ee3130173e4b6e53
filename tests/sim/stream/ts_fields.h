// Header fields of a transport packet, read the way a receiver would, so
// the tests check the generator against the standard rather than against
// its own writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "stream/ts_packet.h"

namespace sim::test {

inline uint16_t PidOf(const uint8_t* p) { return static_cast<uint16_t>((p[1] & 0x1F) << 8 | p[2]); }
inline bool UnitStartOf(const uint8_t* p) { return (p[1] & 0x40) != 0; }
inline bool HasAdaptation(const uint8_t* p) { return (p[3] & 0x20) != 0; }
inline bool HasPayload(const uint8_t* p) { return (p[3] & 0x10) != 0; }
inline uint8_t ContinuityOf(const uint8_t* p) { return p[3] & 0x0F; }

// Offset of the payload in the packet; TsPacketSize when there is none.
inline size_t PayloadOffset(const uint8_t* p) {
  if (!HasPayload(p)) {
    return TsPacketSize;
  }
  return HasAdaptation(p) ? TsHeaderSize + 1 + p[TsHeaderSize] : TsHeaderSize;
}

// The PCR of the adaptation field, in 27 MHz ticks, if there is one.
inline std::optional<uint64_t> PcrOf(const uint8_t* p) {
  if (!HasAdaptation(p) || p[4] == 0 || (p[5] & 0x10) == 0) {
    return std::nullopt;
  }
  const uint64_t base = uint64_t{p[6]} << 25 | uint64_t{p[7]} << 17 | uint64_t{p[8]} << 9 |
                        uint64_t{p[9]} << 1 | p[10] >> 7;
  const uint64_t extension = (p[10] & 0x01) << 8 | p[11];
  return base * 300 + extension;
}

// A stream cut into packets.
class PacketList {
 public:
  explicit PacketList(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  size_t size() const { return bytes_.size() / TsPacketSize; }
  const uint8_t* operator[](size_t index) const { return bytes_.data() + index * TsPacketSize; }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace sim::test
