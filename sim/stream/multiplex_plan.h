// What the built-in multiplex carries: its rate, services, PIDs, table
// repetition and guide plan. Published so that tests and tools check what
// they decode against it instead of repeating the numbers.
#pragma once

#include <cstdint>
#include <vector>

#include "stream/ts_packet.h"

namespace sim {

// The multiplex runs at a fixed rate of 5,000 packets a second (one packet
// every 200 us), that is 7,520,000 bit/s.
constexpr uint32_t MultiplexPacketsPerSecond = 5000;
constexpr uint64_t MultiplexBitrate = uint64_t{MultiplexPacketsPerSecond} * TsPacketSize * 8;

constexpr uint16_t TransportStreamId = 0x0001;
constexpr uint16_t OriginalNetworkId = 0xFF01;  // in the range kept for private use

constexpr uint16_t PatPid = 0x0000;
constexpr uint16_t SdtPid = 0x0011;
constexpr uint16_t EitPid = 0x0012;

// Table ids (ETSI EN 300 468, 5.1.3).
constexpr uint8_t PatTableId = 0x00;
constexpr uint8_t PmtTableId = 0x02;
constexpr uint8_t SdtActualTableId = 0x42;
constexpr uint8_t EitPresentFollowingTableId = 0x4E;
constexpr uint8_t EitScheduleFirstTableId = 0x50;
constexpr uint8_t EitScheduleLastTableId = 0x51;  // last_table_id of the schedule

// Stream types in the PMTs (ISO/IEC 13818-1, table 2-34).
constexpr uint8_t Mpeg2VideoStreamType = 0x02;
constexpr uint8_t Mpeg1AudioStreamType = 0x03;

// How often each table is sent, in packets of stream.
constexpr uint32_t PatPmtRepetitionPackets = MultiplexPacketsPerSecond / 10;              // 100 ms
constexpr uint32_t SdtRepetitionPackets = MultiplexPacketsPerSecond;                      // 1 s
constexpr uint32_t EitPresentFollowingRepetitionPackets = MultiplexPacketsPerSecond / 2;  // 500 ms
constexpr uint32_t EitScheduleRepetitionPackets = MultiplexPacketsPerSecond * 3 / 2;      // 1.5 s

struct ServiceInfo {
  uint16_t serviceId;  // also the program_number in the PAT
  uint16_t pmtPid;
  uint16_t videoPid;
  uint16_t audioPid;
  uint16_t pcrPid;
  uint16_t width;
  uint16_t height;
  uint8_t aspectRatioInformation;  // as coded in the sequence header: 2 is 4:3, 3 is 16:9
  const char* name;
  const char* provider;
};

const std::vector<ServiceInfo>& MultiplexServices();

// One transmitted EIT section.
struct EitSectionInfo {
  uint8_t sectionNumber;
  uint8_t segmentLastSectionNumber;
  uint8_t eventCount;
};

// One EIT sub-table: a table of one service. Schedule tables are cut in
// segments of eight section numbers; a segment sends its sections up to its
// segment_last_section_number only, so the numbers after it never appear.
// The highest section sent is numbered last_section_number.
struct EitTableInfo {
  uint16_t serviceId;
  uint8_t tableId;
  uint8_t lastSectionNumber;
  uint8_t lastTableId;
  std::vector<EitSectionInfo> sections;  // the transmitted ones, ascending
};

const std::vector<EitTableInfo>& MultiplexEitTables();

}  // namespace sim
