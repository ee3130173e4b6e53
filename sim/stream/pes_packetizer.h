// Carries the PES packets of one elementary stream in transport packets: a
// PES packet starts a packet of its own and its end is padded with
// adaptation-field stuffing. Carries the program clock reference too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "stream/ts_packet.h"

namespace sim {

constexpr uint64_t PcrClockHz = 27000000;

class PesPacketizer {
 public:
  explicit PesPacketizer(uint16_t pid) : pid_(pid) {}

  void Queue(std::vector<uint8_t> pes);
  bool Pending() const { return !queue_.empty(); }
  // Writes the next packet of the PID, with `pcr` (27 MHz ticks, taken modulo
  // the PCR's range) in its adaptation field when given. With nothing queued
  // the packet has an adaptation field only, and leaves the continuity
  // counter as it is; that needs a PCR to carry.
  void WritePacket(uint8_t* packet, std::optional<uint64_t> pcr);

 private:
  uint16_t pid_;
  // Counter of the last packet with payload; a packet without payload
  // repeats it.
  uint8_t continuity_ = ContinuityCounterModulo - 1;
  std::deque<std::vector<uint8_t>> queue_;
  size_t sent_ = 0;  // bytes of the front PES packet already in packets
};

}  // namespace sim
