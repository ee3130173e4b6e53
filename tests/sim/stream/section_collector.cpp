// Test-side section reassembly.
#include "section_collector.h"

#include <algorithm>

#include "ts_fields.h"

namespace sim::test {
namespace {

constexpr size_t SectionHeaderSize = 3;

size_t SectionSize(const std::vector<uint8_t>& header) {
  return SectionHeaderSize + ((header[1] & 0x0F) << 8 | header[2]);
}

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t size) {
  uint32_t crc = 0xFFFFFFFF;
  for (size_t i = 0; i < size; i++) {
    crc ^= uint32_t{data[i]} << 24;
    for (int bit = 0; bit < 8; bit++) {
      crc = (crc & 0x80000000) != 0 ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
    }
  }
  return crc;
}

void SectionCollector::Error(size_t index, const std::string& what) {
  errors_.push_back("packet " + std::to_string(index) + ": " + what);
  inSection_ = false;
  partial_.clear();
}

size_t SectionCollector::Feed(const uint8_t* data, size_t size, size_t index) {
  size_t used = 0;
  while (inSection_ && used < size) {
    const size_t want =
        partial_.size() < SectionHeaderSize ? SectionHeaderSize : SectionSize(partial_);
    const size_t count = std::min(size - used, want - partial_.size());
    partial_.insert(partial_.end(), data + used, data + used + count);
    used += count;
    if (partial_.size() >= SectionHeaderSize && partial_.size() == SectionSize(partial_)) {
      const bool crcOk = Crc32(partial_.data(), partial_.size()) == 0;
      sections_.push_back({partial_, partialFirst_, index, crcOk});
      partial_.clear();
      inSection_ = false;
    }
  }
  return used;
}

void SectionCollector::Push(const uint8_t* packet, size_t index) {
  if (PidOf(packet) != pid_ || !HasPayload(packet)) {
    return;
  }
  const size_t offset = PayloadOffset(packet);
  if (offset >= TsPacketSize) {
    Error(index, "payload flagged but the adaptation field fills the packet");
    return;
  }
  const uint8_t* payload = packet + offset;
  const size_t size = TsPacketSize - offset;
  size_t pos = 0;
  size_t starts = 0;
  if (UnitStartOf(packet)) {
    const size_t pointer = payload[0];
    if (1 + pointer >= size) {
      Error(index, "pointer_field points past the packet");
      return;
    }
    if (inSection_) {
      if (Feed(payload + 1, pointer, index) != pointer || inSection_) {
        Error(index, "pointer_field does not skip exactly the tail of the section under way");
      }
    } else if (synced_ && pointer != 0) {
      Error(index, "pointer_field skips bytes while no section is under way");
    }
    synced_ = true;
    pos = 1 + pointer;
    if (payload[pos] == StuffingByte) {
      Error(index, "pointer_field points at stuffing");
      return;
    }
    while (pos < size && payload[pos] != StuffingByte) {
      starts++;
      inSection_ = true;
      partialFirst_ = index;
      pos += Feed(payload + pos, size - pos, index);
    }
  } else {
    if (!synced_) {
      return;
    }
    if (!inSection_) {
      Error(index, "payload while no section is under way");
      return;
    }
    pos = Feed(payload, size, index);
  }
  if (std::any_of(payload + pos, payload + size, [](uint8_t b) { return b != StuffingByte; })) {
    Error(index, "bytes after the last section are not stuffing");
  }
  mostStarts_ = std::max(mostStarts_, starts);
}

}  // namespace sim::test
