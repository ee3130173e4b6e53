// Hand-made packets and sections (see ts_builder.h).
#include "ts_builder.h"

#include <algorithm>

namespace dtvtest {
namespace {
constexpr size_t PacketSize = 188;
constexpr size_t PayloadSize = 184;
}  // namespace

Bytes Packet(const PacketFields& fields, const Bytes& payload) {
  Bytes packet(PacketSize, 0xFF);
  packet[0] = 0x47;
  packet[1] = static_cast<uint8_t>((fields.transportError ? 0x80 : 0) | (fields.start ? 0x40 : 0) |
                                   ((fields.pid >> 8) & 0x1F));
  packet[2] = static_cast<uint8_t>(fields.pid);
  packet[3] = static_cast<uint8_t>((fields.adaptation << 4) | (fields.cc & 0x0F));
  size_t offset = 4;
  if (fields.adaptation & 0x2) {
    packet[4] = fields.adaptationLength;
    offset = 5 + fields.adaptationLength;
  }
  if (offset < PacketSize) {
    size_t n = std::min(payload.size(), PacketSize - offset);
    std::copy(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(n),
              packet.begin() + static_cast<std::ptrdiff_t>(offset));
  }
  return packet;
}

Bytes Section(uint8_t tableId, uint16_t sectionLength, const Bytes& header, uint8_t fill) {
  Bytes section(sectionLength + 3u, fill);
  section[0] = tableId;
  section[1] = static_cast<uint8_t>(0xB0 | ((sectionLength >> 8) & 0x0F));
  section[2] = static_cast<uint8_t>(sectionLength);
  for (size_t i = 0; i < header.size() && 3 + i < section.size(); i++) {
    section[3 + i] = header[i];
  }
  return section;
}

Bytes EitSection(uint8_t tableId, uint16_t serviceId, uint8_t sectionNumber,
                 uint8_t lastSectionNumber, uint8_t segmentLastSectionNumber,
                 uint8_t lastTableId, uint16_t sectionLength) {
  return Section(tableId, sectionLength,
                 {static_cast<uint8_t>(serviceId >> 8), static_cast<uint8_t>(serviceId), 0xC1,
                  sectionNumber, lastSectionNumber, 0x00, 0x01, 0x00, 0x02,
                  segmentLastSectionNumber, lastTableId});
}

std::vector<Bytes> PackSections(uint16_t pid, const std::vector<Bytes>& sections, uint8_t* cc) {
  Bytes stream;
  std::vector<size_t> starts;
  for (const Bytes& section : sections) {
    starts.push_back(stream.size());
    stream.insert(stream.end(), section.begin(), section.end());
  }
  std::vector<Bytes> packets;
  size_t position = 0;
  size_t next = 0;
  while (position < stream.size()) {
    while (next < starts.size() && starts[next] < position) {
      next++;
    }
    size_t distance = next < starts.size() ? starts[next] - position : stream.size();
    Bytes payload;
    size_t n;
    bool start = distance < PayloadSize - 1;
    if (start) {
      // The pointer_field leads to the first section starting here.
      payload.push_back(static_cast<uint8_t>(distance));
      n = std::min(PayloadSize - 1, stream.size() - position);
    } else {
      // A section that would start on the last byte begins the next packet.
      n = std::min({PayloadSize, stream.size() - position, distance});
    }
    payload.insert(payload.end(), stream.begin() + static_cast<std::ptrdiff_t>(position),
                   stream.begin() + static_cast<std::ptrdiff_t>(position + n));
    position += n;
    packets.push_back(Packet({pid, start, *cc, 1, 0, false}, payload));
    *cc = (*cc + 1) & 0x0F;
  }
  return packets;
}

std::vector<Bytes> SectionPerPacket(uint16_t pid, const std::vector<Bytes>& sections, uint8_t* cc) {
  std::vector<Bytes> packets;
  for (const Bytes& section : sections) {
    for (size_t position = 0; position < section.size();) {
      bool start = position == 0;
      Bytes payload;
      if (start) {
        payload.push_back(0);
      }
      size_t n = std::min(PayloadSize - payload.size(), section.size() - position);
      payload.insert(payload.end(), section.begin() + static_cast<std::ptrdiff_t>(position),
                     section.begin() + static_cast<std::ptrdiff_t>(position + n));
      position += n;
      packets.push_back(Packet({pid, start, *cc, 1, 0, false}, payload));
      *cc = (*cc + 1) & 0x0F;
    }
  }
  return packets;
}

Bytes WithPointer(uint8_t pointer, const Bytes& bytes) {
  Bytes payload(1 + bytes.size());
  payload[0] = pointer;
  std::copy(bytes.begin(), bytes.end(), payload.begin() + 1);
  return payload;
}

Bytes Join(const std::vector<Bytes>& packets) {
  Bytes out;
  for (const Bytes& packet : packets) {
    out.insert(out.end(), packet.begin(), packet.end());
  }
  return out;
}

}  // namespace dtvtest
