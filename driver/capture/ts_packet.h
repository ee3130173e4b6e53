// MPEG-2 transport stream packet fields (ISO/IEC 13818-1) and the sample
// size of the capture pin. Inline accessors; callable at any IRQL.
#pragma once

#include "../adapter/ddk.h"

constexpr ULONG TsPacketSize = 188;
constexpr UCHAR TsSyncByte = 0x47;
constexpr USHORT NullPid = 0x1FFF;
constexpr ULONG PacketsPerSample = 128;
constexpr ULONG CaptureSampleSize = PacketsPerSample * TsPacketSize;  // 24,064 bytes

// Fills a packet after the last section of a PSI/SI payload.
constexpr UCHAR StuffingByte = 0xFF;

// Header bytes before the payload of a packet without adaptation field.
constexpr ULONG TsHeaderSize = 4;

inline USHORT TsPid(const UCHAR* packet) {
  return static_cast<USHORT>(((packet[1] & 0x1F) << 8) | packet[2]);
}

inline bool TsTransportError(const UCHAR* packet) { return (packet[1] & 0x80) != 0; }

inline bool TsPayloadUnitStart(const UCHAR* packet) { return (packet[1] & 0x40) != 0; }

inline UCHAR TsAdaptationFieldControl(const UCHAR* packet) {
  return static_cast<UCHAR>((packet[3] >> 4) & 0x03);
}

inline UCHAR TsContinuityCounter(const UCHAR* packet) {
  return static_cast<UCHAR>(packet[3] & 0x0F);
}

// section_length of a PSI/SI section starting at `section` (12 bits).
inline USHORT SectionLengthOf(const UCHAR* section) {
  return static_cast<USHORT>(((section[1] & 0x0F) << 8) | section[2]);
}

// Bytes of a section counted from its table_id: section_length + 3.
constexpr ULONG SectionHeaderSize = 3;
