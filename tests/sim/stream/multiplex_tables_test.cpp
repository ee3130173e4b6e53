// The tables of the generated stream, decoded back with libdvbpsi and a
// section reader of the tests' own, match the published description.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "section_collector.h"
#include "stream/libdvbpsi.h"
#include "stream/multiplex.h"
#include "stream_capture.h"
#include "ts_fields.h"

namespace sim {
namespace {

using test::PacketList;

constexpr double CaptureSeconds = 4;
constexpr size_t EitHeaderSize = 14;  // up to and with last_table_id
constexpr size_t CrcSize = 4;
constexpr size_t EventHeaderSize = 12;

class MultiplexTables : public testing::Test {
 protected:
  static void SetUpTestSuite() { stream_ = new PacketList(test::CaptureMultiplex(CaptureSeconds)); }
  static void TearDownTestSuite() {
    delete stream_;
    stream_ = nullptr;
  }

  // Runs the packets of `pid` through a libdvbpsi handle set up by `attach`.
  static void Decode(uint16_t pid, const std::function<void(dvbpsi_t*)>& attach,
                     const std::function<void(dvbpsi_t*)>& detach) {
    dvbpsi_t* handle = dvbpsi_new(nullptr, DVBPSI_MSG_NONE);
    ASSERT_NE(handle, nullptr);
    attach(handle);
    for (size_t i = 0; i < stream_->size(); i++) {
      if (test::PidOf((*stream_)[i]) == pid) {
        dvbpsi_packet_push(handle, const_cast<uint8_t*>((*stream_)[i]));
      }
    }
    detach(handle);
    dvbpsi_delete(handle);
  }

  static test::SectionCollector Collect(uint16_t pid) {
    test::SectionCollector collector(pid);
    for (size_t i = 0; i < stream_->size(); i++) {
      collector.Push((*stream_)[i], i);
    }
    return collector;
  }

 private:
  static PacketList* stream_;
};

PacketList* MultiplexTables::stream_ = nullptr;

std::string Text(const uint8_t* bytes, size_t length) {
  return std::string(reinterpret_cast<const char*>(bytes), length);
}

TEST_F(MultiplexTables, PatListsEveryServiceWithItsPmt) {
  struct Result {
    int tables = 0;
    uint16_t tsId = 0;
    std::map<uint16_t, uint16_t> programs;
  } result;
  Decode(
      PatPid,
      [&](dvbpsi_t* h) {
        ASSERT_TRUE(dvbpsi_pat_attach(
            h,
            [](void* data, dvbpsi_pat_t* pat) {
              auto* r = static_cast<Result*>(data);
              r->tables++;
              r->tsId = pat->i_ts_id;
              r->programs.clear();
              for (dvbpsi_pat_program_t* p = pat->p_first_program; p != nullptr; p = p->p_next) {
                r->programs[p->i_number] = p->i_pid;
              }
              dvbpsi_pat_delete(pat);
            },
            &result));
      },
      dvbpsi_pat_detach);

  ASSERT_GE(result.tables, 1);
  EXPECT_EQ(result.tsId, TransportStreamId);
  std::map<uint16_t, uint16_t> expected;
  for (const ServiceInfo& service : MultiplexServices()) {
    expected[service.serviceId] = service.pmtPid;
  }
  EXPECT_GE(expected.size(), 2u);
  EXPECT_EQ(result.programs, expected);
}

TEST_F(MultiplexTables, PmtOfEachServiceNamesItsStreamsAndPcrPid) {
  for (const ServiceInfo& service : MultiplexServices()) {
    SCOPED_TRACE(service.name);
    struct Result {
      int tables = 0;
      uint16_t program = 0;
      uint16_t pcrPid = 0;
      std::map<uint16_t, uint8_t> streams;  // PID to stream_type
    } result;
    Decode(
        service.pmtPid,
        [&](dvbpsi_t* h) {
          ASSERT_TRUE(dvbpsi_pmt_attach(
              h, service.serviceId,
              [](void* data, dvbpsi_pmt_t* pmt) {
                auto* r = static_cast<Result*>(data);
                r->tables++;
                r->program = pmt->i_program_number;
                r->pcrPid = pmt->i_pcr_pid;
                r->streams.clear();
                for (dvbpsi_pmt_es_t* es = pmt->p_first_es; es != nullptr; es = es->p_next) {
                  r->streams[es->i_pid] = es->i_type;
                }
                dvbpsi_pmt_delete(pmt);
              },
              &result));
        },
        dvbpsi_pmt_detach);

    ASSERT_GE(result.tables, 1);
    EXPECT_EQ(result.program, service.serviceId);
    EXPECT_EQ(result.pcrPid, service.pcrPid);
    const std::map<uint16_t, uint8_t> expected = {{service.videoPid, Mpeg2VideoStreamType},
                                                  {service.audioPid, Mpeg1AudioStreamType}};
    EXPECT_EQ(result.streams, expected);
  }
}

// Attaches the decoder made by `attach` to each new sub-table of a demux.
struct DemuxContext {
  std::function<void(dvbpsi_t*, uint8_t, uint16_t)> attach;
};

void AttachDemux(dvbpsi_t* handle, DemuxContext* context) {
  ASSERT_TRUE(dvbpsi_AttachDemux(
      handle,
      [](dvbpsi_t* h, uint8_t tableId, uint16_t extension, void* data) {
        static_cast<DemuxContext*>(data)->attach(h, tableId, extension);
      },
      context));
}

TEST_F(MultiplexTables, SdtNamesEveryService) {
  struct Service {
    std::string name;
    std::string provider;
    bool eitSchedule;
    bool eitPresentFollowing;
  };
  struct Result {
    int tables = 0;
    uint16_t tsId = 0;
    uint16_t networkId = 0;
    std::map<uint16_t, Service> services;
  } result;
  DemuxContext context{[&](dvbpsi_t* h, uint8_t tableId, uint16_t extension) {
    if (tableId != SdtActualTableId) {
      return;
    }
    dvbpsi_sdt_attach(
        h, tableId, extension,
        [](void* data, dvbpsi_sdt_t* sdt) {
          auto* r = static_cast<Result*>(data);
          r->tables++;
          r->tsId = sdt->i_extension;
          r->networkId = sdt->i_network_id;
          for (dvbpsi_sdt_service_t* s = sdt->p_first_service; s != nullptr; s = s->p_next) {
            Service& entry = r->services[s->i_service_id];
            entry.eitSchedule = s->b_eit_schedule;
            entry.eitPresentFollowing = s->b_eit_present;
            for (dvbpsi_descriptor_t* d = s->p_first_descriptor; d != nullptr; d = d->p_next) {
              if (d->i_tag == 0x48) {
                const dvbpsi_service_dr_t* dr = dvbpsi_DecodeServiceDr(d);
                ASSERT_NE(dr, nullptr);
                entry.name = Text(dr->i_service_name, dr->i_service_name_length);
                entry.provider =
                    Text(dr->i_service_provider_name, dr->i_service_provider_name_length);
              }
            }
          }
          dvbpsi_sdt_delete(sdt);
        },
        &result);
  }};
  Decode(
      SdtPid, [&](dvbpsi_t* h) { AttachDemux(h, &context); }, dvbpsi_DetachDemux);

  ASSERT_GE(result.tables, 1);
  EXPECT_EQ(result.tsId, TransportStreamId);
  EXPECT_EQ(result.networkId, OriginalNetworkId);
  ASSERT_EQ(result.services.size(), MultiplexServices().size());
  for (const ServiceInfo& service : MultiplexServices()) {
    const Service& got = result.services[service.serviceId];
    EXPECT_EQ(got.name, service.name);
    EXPECT_EQ(got.provider, service.provider);
    EXPECT_TRUE(got.eitSchedule);
    EXPECT_TRUE(got.eitPresentFollowing);
  }
}

// The EIT sections seen for one sub-table.
struct SeenTable {
  std::set<uint8_t> sectionNumbers;
  std::map<uint8_t, int> repeats;
};

TEST_F(MultiplexTables, EitSectionsFollowThePlanWithTheirSegmentsAndGaps) {
  const test::SectionCollector collector = Collect(EitPid);
  ASSERT_TRUE(collector.Errors().empty()) << collector.Errors().front();

  std::map<std::pair<uint16_t, uint8_t>, const EitTableInfo*> plan;
  for (const EitTableInfo& table : MultiplexEitTables()) {
    plan[{table.serviceId, table.tableId}] = &table;
  }
  std::map<std::pair<uint16_t, uint8_t>, SeenTable> seen;
  for (const test::CollectedSection& section : collector.Sections()) {
    const std::vector<uint8_t>& s = section.bytes;
    ASSERT_GE(s.size(), EitHeaderSize + CrcSize);
    ASSERT_TRUE(section.crcOk);
    const uint8_t tableId = s[0];
    const uint16_t serviceId = static_cast<uint16_t>(s[3] << 8 | s[4]);
    const uint8_t number = s[6];
    SCOPED_TRACE("service " + std::to_string(serviceId) + " table " + std::to_string(tableId) +
                 " section " + std::to_string(number));
    const auto entry = plan.find({serviceId, tableId});
    ASSERT_NE(entry, plan.end()) << "sub-table not in the plan";
    const EitTableInfo& table = *entry->second;
    const auto info =
        std::find_if(table.sections.begin(), table.sections.end(),
                     [&](const EitSectionInfo& i) { return i.sectionNumber == number; });
    ASSERT_NE(info, table.sections.end()) << "section number not in the plan";

    EXPECT_EQ(s[7], table.lastSectionNumber);
    EXPECT_EQ(s[8] << 8 | s[9], TransportStreamId);
    EXPECT_EQ(s[10] << 8 | s[11], OriginalNetworkId);
    EXPECT_EQ(s[12], info->segmentLastSectionNumber);
    EXPECT_EQ(s[13], table.lastTableId);
    size_t events = 0;
    for (size_t pos = EitHeaderSize; pos < s.size() - CrcSize; events++) {
      ASSERT_LE(pos + EventHeaderSize, s.size() - CrcSize);
      pos += EventHeaderSize + ((s[pos + 10] & 0x0F) << 8 | s[pos + 11]);
      ASSERT_LE(pos, s.size() - CrcSize) << "event loop overruns the section";
    }
    EXPECT_EQ(events, info->eventCount);
    seen[{serviceId, tableId}].sectionNumbers.insert(number);
    seen[{serviceId, tableId}].repeats[number]++;
  }

  for (const EitTableInfo& table : MultiplexEitTables()) {
    SCOPED_TRACE("service " + std::to_string(table.serviceId) + " table " +
                 std::to_string(table.tableId));
    std::set<uint8_t> expected;
    for (const EitSectionInfo& section : table.sections) {
      expected.insert(section.sectionNumber);
      // Each segment ends at its segment_last_section_number, within the
      // eight numbers of the segment.
      EXPECT_EQ(section.segmentLastSectionNumber / 8, section.sectionNumber / 8);
      EXPECT_LE(section.sectionNumber, section.segmentLastSectionNumber);
    }
    const SeenTable& got = seen[{table.serviceId, table.tableId}];
    EXPECT_EQ(got.sectionNumbers, expected);
    for (const auto& [number, count] : got.repeats) {
      EXPECT_GE(count, 2) << "section " << int{number} << " sent once in " << CaptureSeconds
                          << " s";
    }
  }
}

TEST_F(MultiplexTables, PlanHasSchedulesWithGapsAndPresentFollowingForEveryService) {
  for (const ServiceInfo& service : MultiplexServices()) {
    std::set<uint8_t> tables;
    bool gap = false;
    for (const EitTableInfo& table : MultiplexEitTables()) {
      if (table.serviceId != service.serviceId) {
        continue;
      }
      tables.insert(table.tableId);
      if (table.tableId == EitPresentFollowingTableId) {
        EXPECT_EQ(table.lastSectionNumber, 1);
        EXPECT_EQ(table.lastTableId, EitPresentFollowingTableId);
        continue;
      }
      EXPECT_EQ(table.lastTableId, EitScheduleLastTableId);
      ASSERT_FALSE(table.sections.empty());
      EXPECT_EQ(table.sections.back().sectionNumber, table.lastSectionNumber);
      for (const EitSectionInfo& section : table.sections) {
        gap |= section.segmentLastSectionNumber % 8 != 7 &&
               section.sectionNumber < table.lastSectionNumber;
      }
    }
    EXPECT_EQ(tables, (std::set<uint8_t>{EitPresentFollowingTableId, 0x50, 0x51})) << service.name;
    EXPECT_TRUE(gap) << service.name << " has no segment cut short before its last";
  }
}

TEST_F(MultiplexTables, EveryTableComesAgainWithinItsRepetition) {
  // Sending may wait behind other packets for a few milliseconds.
  constexpr size_t SlackPackets = MultiplexPacketsPerSecond / 100;
  struct Carousel {
    uint16_t pid;
    uint8_t tableId;
    uint32_t period;
  };
  std::vector<Carousel> carousels = {
      {PatPid, PatTableId, PatPmtRepetitionPackets},
      {SdtPid, SdtActualTableId, SdtRepetitionPackets},
      {EitPid, EitPresentFollowingTableId, EitPresentFollowingRepetitionPackets}};
  for (const ServiceInfo& service : MultiplexServices()) {
    carousels.push_back({service.pmtPid, PmtTableId, PatPmtRepetitionPackets});
  }
  for (uint8_t tableId = EitScheduleFirstTableId; tableId <= EitScheduleLastTableId; tableId++) {
    carousels.push_back({EitPid, tableId, EitScheduleRepetitionPackets});
  }
  std::map<uint16_t, test::SectionCollector> collectors;
  for (const Carousel& carousel : carousels) {
    collectors.try_emplace(carousel.pid, Collect(carousel.pid));
  }

  for (const Carousel& carousel : carousels) {
    SCOPED_TRACE("PID " + std::to_string(carousel.pid) + " table " +
                 std::to_string(carousel.tableId));
    // Where each section (by table_id_extension and number) began.
    std::map<std::pair<uint16_t, uint8_t>, std::vector<size_t>> starts;
    for (const test::CollectedSection& section : collectors.at(carousel.pid).Sections()) {
      if (section.bytes[0] == carousel.tableId) {
        starts[{static_cast<uint16_t>(section.bytes[3] << 8 | section.bytes[4]), section.bytes[6]}]
            .push_back(section.firstPacket);
      }
    }
    ASSERT_FALSE(starts.empty());
    for (const auto& [key, packets] : starts) {
      EXPECT_LE(packets.front(), carousel.period + SlackPackets) << "first sent late";
      EXPECT_GE(packets.size(), 2u);
      for (size_t i = 1; i < packets.size(); i++) {
        EXPECT_LE(packets[i] - packets[i - 1], carousel.period + SlackPackets)
            << "section " << int{key.second} << " of " << key.first;
      }
    }
  }
}

TEST_F(MultiplexTables, EitSectionsArePackedBackToBack) {
  const test::SectionCollector collector = Collect(EitPid);
  ASSERT_TRUE(collector.Errors().empty()) << collector.Errors().front();
  EXPECT_GE(collector.MostStartsInOnePacket(), 2u) << "no packet starts more than one section";
  const bool spans =
      std::any_of(collector.Sections().begin(), collector.Sections().end(),
                  [](const test::CollectedSection& s) { return s.lastPacket > s.firstPacket; });
  EXPECT_TRUE(spans) << "no section runs over several packets";
}

TEST_F(MultiplexTables, LibdvbpsiDecodesEveryEitTableWithItsEvents) {
  struct Table {
    int decoded = 0;
    size_t events = 0;
    uint8_t lastTableId = 0;
    std::vector<std::string> names;
  };
  struct Result {
    std::map<std::pair<uint16_t, uint8_t>, Table> tables;
  } result;
  DemuxContext context{[&](dvbpsi_t* h, uint8_t tableId, uint16_t extension) {
    dvbpsi_eit_attach(
        h, tableId, extension,
        [](void* data, dvbpsi_eit_t* eit) {
          Table& table = static_cast<Result*>(data)->tables[{eit->i_extension, eit->i_table_id}];
          table.decoded++;
          table.lastTableId = eit->i_last_table_id;
          table.events = 0;
          table.names.clear();
          for (dvbpsi_eit_event_t* e = eit->p_first_event; e != nullptr; e = e->p_next) {
            table.events++;
            for (dvbpsi_descriptor_t* d = e->p_first_descriptor; d != nullptr; d = d->p_next) {
              if (d->i_tag == 0x4D) {
                const dvbpsi_short_event_dr_t* dr = dvbpsi_DecodeShortEventDr(d);
                if (dr != nullptr) {
                  table.names.push_back(Text(dr->i_event_name, dr->i_event_name_length));
                }
              }
            }
          }
          dvbpsi_eit_delete(eit);
        },
        &result);
  }};
  Decode(
      EitPid, [&](dvbpsi_t* h) { AttachDemux(h, &context); }, dvbpsi_DetachDemux);

  for (const EitTableInfo& plan : MultiplexEitTables()) {
    SCOPED_TRACE("service " + std::to_string(plan.serviceId) + " table " +
                 std::to_string(plan.tableId));
    const Table& table = result.tables[{plan.serviceId, plan.tableId}];
    EXPECT_GE(table.decoded, 1) << "never complete";
    size_t events = 0;
    for (const EitSectionInfo& section : plan.sections) {
      events += section.eventCount;
    }
    EXPECT_EQ(table.events, events);
    EXPECT_EQ(table.lastTableId, plan.lastTableId);
    EXPECT_EQ(table.names.size(), events) << "events without a short event descriptor";
    const std::string serviceName =
        std::find_if(MultiplexServices().begin(), MultiplexServices().end(),
                     [&](const ServiceInfo& s) { return s.serviceId == plan.serviceId; })
            ->name;
    for (const std::string& name : table.names) {
      EXPECT_EQ(name.rfind(serviceName, 0), 0u) << name;
    }
  }
}

}  // namespace
}  // namespace sim
