// Carries the PSI/SI sections of one PID in transport packets, packed back to
// back as broadcasters do (ISO/IEC 13818-1, 2.4.4): a section starts right
// after the end of the one before it, in the same packet if there is room;
// the pointer_field of a packet with payload_unit_start_indicator set skips
// the tail of the section under way; stuffing fills a packet only when
// nothing more is queued, or in the one case where a tail leaves a single
// byte, too little for both a pointer_field and a section start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "stream/psi_section.h"

namespace sim {

class SectionPacketizer {
 public:
  explicit SectionPacketizer(uint16_t pid) : pid_(pid) {}

  void Queue(const Section& section);
  bool Pending() const { return !queue_.empty(); }
  // Writes the next packet of the PID; call only while Pending().
  void WritePacket(uint8_t* packet);

 private:
  uint16_t pid_;
  uint8_t continuity_ = 0;
  std::deque<Section> queue_;
  size_t sent_ = 0;  // bytes of the front section already in packets
};

}  // namespace sim
