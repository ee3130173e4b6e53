// Section packing into transport packets.
#include "stream/section_packetizer.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "stream/ts_packet.h"

namespace sim {
namespace {

constexpr size_t PointerFieldSize = 1;

}  // namespace

void SectionPacketizer::Queue(const Section& section) {
  if (section.empty()) {
    throw std::invalid_argument("SectionPacketizer: empty section");
  }
  queue_.push_back(section);
}

void SectionPacketizer::WritePacket(uint8_t* packet) {
  if (queue_.empty()) {
    throw std::logic_error("SectionPacketizer: nothing queued");
  }
  const size_t tail = sent_ == 0 ? 0 : queue_.front().size() - sent_;
  // A section may start here only if the packet has a pointer_field, and
  // that field only exists if a section does start here: after the tail
  // there must be room, and another section to start.
  const bool unitStart =
      tail == 0 || (PointerFieldSize + tail < TsPayloadSize && queue_.size() > 1);
  WriteTsHeader(packet, pid_, unitStart, PayloadOnly, continuity_);
  continuity_ = (continuity_ + 1) % ContinuityCounterModulo;

  size_t pos = TsHeaderSize;
  if (unitStart) {
    packet[pos++] = static_cast<uint8_t>(tail);
  }
  while (pos < TsPacketSize && !queue_.empty()) {
    if (sent_ == 0 && !unitStart) {
      break;
    }
    const Section& section = queue_.front();
    const size_t count = std::min(TsPacketSize - pos, section.size() - sent_);
    std::memcpy(packet + pos, section.data() + sent_, count);
    pos += count;
    sent_ += count;
    if (sent_ == section.size()) {
      queue_.pop_front();
      sent_ = 0;
    }
  }
  std::memset(packet + pos, StuffingByte, TsPacketSize - pos);
}

}  // namespace sim
