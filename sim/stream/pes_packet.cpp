// PES packet builder.
#include "stream/pes_packet.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace sim {
namespace {

constexpr size_t PesOptionalHeaderSize = 3;  // flags bytes and PES_header_data_length
constexpr size_t PtsSize = 5;
constexpr size_t MaxPesPacketLength = 0xFFFF;
constexpr uint8_t MarkerBits10 = 0x80;  // '10' before the optional header flags
constexpr uint8_t DataAlignmentIndicator = 0x04;
constexpr uint8_t PtsOnly = 0x80;        // PTS_DTS_flags '10'
constexpr uint8_t PtsOnlyPrefix = 0x20;  // '0010' before the PTS bits
constexpr uint64_t PtsModulo = uint64_t{1} << 33;

}  // namespace

std::vector<uint8_t> BuildPesPacket(uint8_t streamId, uint64_t pts,
                                    const std::vector<uint8_t>& payload) {
  const size_t length = PesOptionalHeaderSize + PtsSize + payload.size();
  const size_t field = length <= MaxPesPacketLength ? length : 0;
  pts %= PtsModulo;

  const uint8_t header[] = {0x00,
                            0x00,
                            0x01,
                            streamId,
                            static_cast<uint8_t>(field >> 8),
                            static_cast<uint8_t>(field),
                            MarkerBits10 | DataAlignmentIndicator,
                            PtsOnly,
                            static_cast<uint8_t>(PtsSize),
                            static_cast<uint8_t>(PtsOnlyPrefix | ((pts >> 29) & 0x0E) | 1),
                            static_cast<uint8_t>(pts >> 22),
                            static_cast<uint8_t>(((pts >> 14) & 0xFE) | 1),
                            static_cast<uint8_t>(pts >> 7),
                            static_cast<uint8_t>(((pts << 1) & 0xFE) | 1)};
  std::vector<uint8_t> pes(sizeof(header) + payload.size());
  std::memcpy(pes.data(), header, sizeof(header));
  std::copy(payload.begin(), payload.end(), pes.begin() + sizeof(header));
  return pes;
}

}  // namespace sim
