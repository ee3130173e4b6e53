// PES packets (ISO/IEC 13818-1, 2.4.3.6) carrying one access unit with its
// presentation time stamp.
#pragma once

#include <cstdint>
#include <vector>

namespace sim {

constexpr uint8_t VideoStreamId = 0xE0;
constexpr uint8_t AudioStreamId = 0xC0;
constexpr uint64_t PtsClockHz = 90000;

// A PES packet with a PTS (taken modulo 2^33) and data_alignment_indicator
// set. A payload too long for PES_packet_length gets length 0, as allowed
// for video in a transport stream.
std::vector<uint8_t> BuildPesPacket(uint8_t streamId, uint64_t pts,
                                    const std::vector<uint8_t>& payload);

}  // namespace sim
