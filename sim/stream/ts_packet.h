// Transport packet layout (ISO/IEC 13818-1, 2.4.3.2): sizes, codes and the
// reserved PIDs shared by the multiplex and its readers, and the header
// writer of the packetizers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

constexpr size_t TsPacketSize = 188;
constexpr size_t TsHeaderSize = 4;
constexpr size_t TsPayloadSize = TsPacketSize - TsHeaderSize;
constexpr uint8_t TsSyncByte = 0x47;
constexpr uint16_t NullPid = 0x1FFF;
constexpr uint8_t ContinuityCounterModulo = 16;
constexpr uint8_t StuffingByte = 0xFF;

// adaptation_field_control values.
constexpr uint8_t PayloadOnly = 0x1;
constexpr uint8_t AdaptationOnly = 0x2;
constexpr uint8_t AdaptationAndPayload = 0x3;

// Writes the four header bytes of a clear (unscrambled) packet.
inline void WriteTsHeader(uint8_t* packet, uint16_t pid, bool payloadUnitStart,
                          uint8_t adaptationFieldControl, uint8_t continuityCounter) {
  packet[0] = TsSyncByte;
  packet[1] = static_cast<uint8_t>((payloadUnitStart ? 0x40 : 0x00) | ((pid >> 8) & 0x1F));
  packet[2] = static_cast<uint8_t>(pid & 0xFF);
  packet[3] = static_cast<uint8_t>((adaptationFieldControl << 4) | (continuityCounter & 0x0F));
}

}  // namespace sim
