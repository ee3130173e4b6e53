// PES packetization into transport packets.
#include "stream/pes_packetizer.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "stream/ts_packet.h"

namespace sim {
namespace {

constexpr size_t AdaptationLengthSize = 1;
constexpr size_t AdaptationFlagsSize = 1;
constexpr size_t PcrSize = 6;
constexpr size_t PcrAdaptationSize = AdaptationLengthSize + AdaptationFlagsSize + PcrSize;
constexpr uint8_t PcrFlag = 0x10;
constexpr uint64_t PcrExtensionModulo = 300;
constexpr uint64_t PcrBaseModulo = uint64_t{1} << 33;

void WritePcr(uint8_t* out, uint64_t pcr) {
  const uint64_t base = pcr / PcrExtensionModulo % PcrBaseModulo;
  const uint64_t extension = pcr % PcrExtensionModulo;
  out[0] = static_cast<uint8_t>(base >> 25);
  out[1] = static_cast<uint8_t>(base >> 17);
  out[2] = static_cast<uint8_t>(base >> 9);
  out[3] = static_cast<uint8_t>(base >> 1);
  out[4] = static_cast<uint8_t>(((base & 1) << 7) | 0x7E | (extension >> 8));  // 6 reserved bits
  out[5] = static_cast<uint8_t>(extension);
}

}  // namespace

void PesPacketizer::Queue(std::vector<uint8_t> pes) {
  if (pes.empty()) {
    throw std::invalid_argument("PesPacketizer: empty PES packet");
  }
  queue_.push_back(std::move(pes));
}

void PesPacketizer::WritePacket(uint8_t* packet, std::optional<uint64_t> pcr) {
  if (queue_.empty() && !pcr) {
    throw std::logic_error("PesPacketizer: nothing queued and no PCR to send");
  }
  const size_t room = TsPayloadSize - (pcr ? PcrAdaptationSize : 0);
  const size_t count = queue_.empty() ? 0 : std::min(room, queue_.front().size() - sent_);
  const size_t adaptation = TsPayloadSize - count;  // whole adaptation field, length byte included
  const bool unitStart = count > 0 && sent_ == 0;

  uint8_t control = PayloadOnly;
  if (count == 0) {
    control = AdaptationOnly;
  } else if (adaptation > 0) {
    control = AdaptationAndPayload;
  }
  if (count > 0) {
    continuity_ = (continuity_ + 1) % ContinuityCounterModulo;
  }
  WriteTsHeader(packet, pid_, unitStart, control, continuity_);

  uint8_t* field = packet + TsHeaderSize;
  if (adaptation > 0) {
    field[0] = static_cast<uint8_t>(adaptation - AdaptationLengthSize);
    if (adaptation > AdaptationLengthSize) {
      size_t used = AdaptationLengthSize + AdaptationFlagsSize;
      field[1] = pcr ? PcrFlag : 0;
      if (pcr) {
        WritePcr(field + used, *pcr);
        used += PcrSize;
      }
      std::memset(field + used, StuffingByte, adaptation - used);
    }
  }
  if (count > 0) {
    std::vector<uint8_t>& pes = queue_.front();
    std::memcpy(field + adaptation, pes.data() + sent_, count);
    sent_ += count;
    if (sent_ == pes.size()) {
      queue_.pop_front();
      sent_ = 0;
    }
  }
}

}  // namespace sim
