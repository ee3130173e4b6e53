// Hand-made transport-stream packets and PSI/SI sections for the analysis
// tests: exactly the bytes a case needs, nothing a generator decides.
#pragma once

#include <cstdint>
#include <vector>

namespace dtvtest {

using Bytes = std::vector<uint8_t>;

struct PacketFields {
  uint16_t pid = 0x100;
  bool start = false;          // payload_unit_start_indicator
  uint8_t cc = 0;              // continuity_counter
  uint8_t adaptation = 1;      // adaptation_field_control
  uint8_t adaptationLength = 0;  // for adaptation 3 (and 2)
  bool transportError = false;
};

// One 188-byte packet: header, optional adaptation field, then `payload`
// (stuffed with 0xFF to the end of the packet; cut if too long).
Bytes Packet(const PacketFields& fields, const Bytes& payload);

// A section of the given table_id and section_length whose bytes 3..13 are
// `header` (service_id, version, section_number, ...) padded with `fill`.
Bytes Section(uint8_t tableId, uint16_t sectionLength, const Bytes& header, uint8_t fill = 0xAB);

// An EIT section (ETSI EN 300 468 layout) of the given length.
Bytes EitSection(uint8_t tableId, uint16_t serviceId, uint8_t sectionNumber,
                 uint8_t lastSectionNumber, uint8_t segmentLastSectionNumber,
                 uint8_t lastTableId, uint16_t sectionLength = 40);

// Packetizes sections on one PID, packed back to back as broadcasters do:
// a new section starts right after the previous one, a packet that starts
// one carries a pointer_field, stuffing only at the end. `cc` advances.
std::vector<Bytes> PackSections(uint16_t pid, const std::vector<Bytes>& sections, uint8_t* cc);

// Packetizes sections one per packet start, as the simplest multiplexers do:
// every section begins a packet with pointer_field 0.
std::vector<Bytes> SectionPerPacket(uint16_t pid, const std::vector<Bytes>& sections, uint8_t* cc);

Bytes Join(const std::vector<Bytes>& packets);

// A payload that starts sections: the pointer_field, then `bytes`.
Bytes WithPointer(uint8_t pointer, const Bytes& bytes);

}  // namespace dtvtest
