// Reassembles the sections of one PID from transport packets, written
// independently of the generator's packetizer, and notes where each
// section lay and every breach of the packing rules of ISO/IEC 13818-1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim::test {

struct CollectedSection {
  std::vector<uint8_t> bytes;
  size_t firstPacket;  // indices in the stream of the packets it began and ended in
  size_t lastPacket;
  bool crcOk;
};

class SectionCollector {
 public:
  explicit SectionCollector(uint16_t pid) : pid_(pid) {}

  // Packets of other PIDs are ignored.
  void Push(const uint8_t* packet, size_t index);

  const std::vector<CollectedSection>& Sections() const { return sections_; }
  // The most sections that began in one packet.
  size_t MostStartsInOnePacket() const { return mostStarts_; }
  const std::vector<std::string>& Errors() const { return errors_; }

 private:
  // Takes section bytes from `data`; returns how many were used.
  size_t Feed(const uint8_t* data, size_t size, size_t index);
  void Error(size_t index, const std::string& what);

  uint16_t pid_;
  bool synced_ = false;  // a section start has been seen
  bool inSection_ = false;
  std::vector<uint8_t> partial_;
  size_t partialFirst_ = 0;
  std::vector<CollectedSection> sections_;
  size_t mostStarts_ = 0;
  std::vector<std::string> errors_;
};

// CRC-32 of ISO/IEC 13818-1 annex A; 0 over a whole section with its CRC.
uint32_t Crc32(const uint8_t* data, size_t size);

}  // namespace sim::test
