// The one-shot section filter: gathering, filters, records and reads.
#include "analysis_rig.h"

namespace dtvtest {
namespace {

constexpr uint16_t Pid = 0x30;

// Section of table 0x02, section_number `number`, `length` section_length.
Bytes PmtLike(uint16_t length, uint8_t number = 0, uint8_t table = 0x02) {
  return Section(table, length, {0, 1, 0xC1, number, 0});
}

class SectionFilterTest : public AnalysisRig {
 protected:
  NTSTATUS Read(Bytes* out, ULONG size, ULONG* needed) {
    out->assign(size, 0xEE);
    return ReadCaughtSection(device(), out->data(), size, needed);
  }
  size_t Records() {
    size_t count = 0;
    PLIST_ENTRY head = &device()->SectionSlots[0].RecordList;
    for (PLIST_ENTRY e = head->Flink; e != head; e = e->Flink) {
      count++;
    }
    return count;
  }
};

TEST_F(SectionFilterTest, SectionInOnePacketCompletesAndReads) {
  ArmSectionFilter(device(), Pid, 0x02, 0);
  Bytes section = PmtLike(40);
  AnalyzePackets({Packet({Pid, true, 0, 1, 0, false}, WithPointer(0, section))});
  EXPECT_EQ(Signals(EVENT_SECTION_READY), 1);
  EXPECT_EQ(device()->SectionFilterArmed, 0u);
  Bytes out;
  ULONG needed = 0;
  ASSERT_EQ(Read(&out, 100, &needed), STATUS_SUCCESS);
  EXPECT_EQ(needed, 50u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), (Bytes{43, 0, 0, 0}));
  EXPECT_EQ(Bytes(out.begin() + 4, out.begin() + 47), section);
  EXPECT_EQ(Records(), 0u) << "the read released the oldest record";
  // The current section stays readable after its record left the list.
  ASSERT_EQ(Read(&out, 100, &needed), STATUS_SUCCESS);
  EXPECT_EQ(Bytes(out.begin() + 4, out.begin() + 47), section);
}

TEST_F(SectionFilterTest, SectionOverThreePackets) {
  ArmSectionFilter(device(), Pid, AnyTableId, 0);
  Bytes section = PmtLike(400);
  auto packets = SectionPerPacket(Pid, {section}, std::make_unique<uint8_t>(0).get());
  ASSERT_EQ(packets.size(), 3u);
  AnalyzePackets({packets[0], packets[1]});
  EXPECT_EQ(Signals(EVENT_SECTION_READY), 0);
  AnalyzePackets({packets[2]});
  EXPECT_EQ(Signals(EVENT_SECTION_READY), 1) << "183 + 184 + 184 bytes";
  Bytes out;
  ULONG needed;
  ASSERT_EQ(Read(&out, 410, &needed), STATUS_SUCCESS);
  EXPECT_EQ(Bytes(out.begin() + 4, out.begin() + 407), section);
}

TEST_F(SectionFilterTest, FiltersAndPacketsThatChangeNothing) {
  struct Case {
    const char* name;
    uint8_t tableFilter;
    uint8_t numberFilter;
    Bytes packet;
    bool record;
  };
  const Case cases[] = {
      {"adaptation field only", AnyTableId, 0, Packet({Pid, true, 0, 2, 183, false}, {}), false},
      {"continuation before any start", AnyTableId, 0,
       Packet({Pid, false, 0, 1, 0, false}, PmtLike(40)), false},
      {"section_number differs", AnyTableId, 1,
       Packet({Pid, true, 0, 1, 0, false}, WithPointer(0, PmtLike(40, 0))), false},
      {"table_id differs", 0x03, 0,
       Packet({Pid, true, 0, 1, 0, false}, WithPointer(0, PmtLike(40, 0))), false},
      {"any table_id", AnyTableId, 2,
       Packet({Pid, true, 0, 1, 0, false}, WithPointer(0, PmtLike(40, 2, 0x77))), true},
      {"pointer_field past the packet", AnyTableId, 0,
       Packet({Pid, true, 0, 1, 0, false}, WithPointer(184, PmtLike(40))), false},
      {"adaptation field past the packet", AnyTableId, 0,
       Packet({Pid, true, 0, 3, 183, false}, {}), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ArmSectionFilter(device(), Pid, c.tableFilter, c.numberFilter);
    AnalyzePackets({c.packet});
    EXPECT_EQ(Records(), c.record ? 1u : 0u);
    EXPECT_EQ(device()->SectionFilterArmed, c.record ? 0u : 1u);
  }
}

TEST_F(SectionFilterTest, PointerPastThePacketAddsNothingToTheSectionUnderWay) {
  ArmSectionFilter(device(), Pid, AnyTableId, 0);
  auto packets = SectionPerPacket(Pid, {PmtLike(400)}, std::make_unique<uint8_t>(0).get());
  AnalyzePackets({packets[0]});
  SectionRecord* record = device()->CurrentRecord;
  ASSERT_NE(record, nullptr);
  ULONG gathered = static_cast<ULONG>(record->WritePosition - record->Buffer);
  Bytes bad = Packet({Pid, true, 1, 1, 0, false}, WithPointer(200, Bytes(183, 0x55)));
  AnalyzePackets({bad});
  EXPECT_EQ(static_cast<ULONG>(record->WritePosition - record->Buffer), gathered);
}

TEST_F(SectionFilterTest, NextSectionInAPackedPacketIsTried) {
  ArmSectionFilter(device(), Pid, 0x02, 3);
  Bytes first = PmtLike(20, 1);
  Bytes wanted = PmtLike(30, 3);
  AnalyzePackets({Packet({Pid, true, 0, 1, 0, false},
                         WithPointer(0, Join({first, wanted})))});
  EXPECT_EQ(Signals(EVENT_SECTION_READY), 1);
  Bytes out;
  ULONG needed;
  ASSERT_EQ(Read(&out, 64, &needed), STATUS_SUCCESS);
  EXPECT_EQ(Bytes(out.begin() + 4, out.begin() + 37), wanted);
}

TEST_F(SectionFilterTest, TailBeforeTheNewSectionCompletesTheOneUnderWay) {
  ArmSectionFilter(device(), Pid, AnyTableId, 0);
  Bytes longer = PmtLike(250);  // 253 bytes: 183 in the first packet, 70 in the second
  Bytes payload = WithPointer(70, Bytes(longer.begin() + 183, longer.end()));
  Bytes next = PmtLike(20, 9);
  payload.insert(payload.end(), next.begin(), next.end());
  AnalyzePackets({Packet({Pid, true, 0, 1, 0, false}, WithPointer(0, longer)),
                  Packet({Pid, true, 1, 1, 0, false}, payload)});
  // The second packet reports only the section it starts (which does not
  // match); the tail went to the first silently.
  EXPECT_EQ(Signals(EVENT_SECTION_READY), 0);
  SectionRecord* record = device()->CurrentRecord;
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(Bytes(record->Buffer, record->Buffer + 253), longer);
}

TEST_F(SectionFilterTest, ReadsReleaseTheOldestAndRearmingReleasesStaleRecords) {
  ArmSectionFilter(device(), Pid, AnyTableId, 0);
  auto packets = SectionPerPacket(Pid, {PmtLike(400)}, std::make_unique<uint8_t>(0).get());
  AnalyzePackets({packets[0]});  // a section that never completes
  EXPECT_EQ(Records(), 1u);
  // Re-arming must not let this arming's packets continue the old record.
  ArmSectionFilter(device(), Pid, AnyTableId, 0);
  EXPECT_EQ(Records(), 0u);
  AnalyzePackets({packets[1], packets[2]});
  EXPECT_EQ(Signals(EVENT_SECTION_READY), 0);

  Bytes section = PmtLike(17);
  AnalyzePackets({Packet({Pid, true, 0, 1, 0, false}, WithPointer(0, section))});
  EXPECT_EQ(Records(), 1u);
  Bytes out;
  ULONG needed;
  EXPECT_EQ(Read(&out, 26, &needed), STATUS_BUFFER_OVERFLOW);
  EXPECT_EQ(needed, 27u);
  EXPECT_EQ(out, Bytes(26, 0xEE)) << "nothing written";
  EXPECT_EQ(Records(), 0u) << "the oldest record is removed all the same";
  ASSERT_EQ(Read(&out, 27, &needed), STATUS_SUCCESS);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), (Bytes{20, 0, 0, 0}));
  EXPECT_EQ(Bytes(out.begin() + 4, out.begin() + 24), section);
  EXPECT_EQ(Bytes(out.begin() + 24, out.end()), Bytes(3, 0xEE)) << "three bytes not written";
}

TEST_F(SectionFilterTest, ReadBeforeAnySectionAndOverlongSections) {
  Bytes out;
  ULONG needed = 0;
  EXPECT_EQ(Read(&out, 5000, &needed), STATUS_NOT_FOUND);
  // section_length 4095 never fits the 4,096-byte buffer: what a read
  // returns is bounded by it, and what was not gathered reads as zero.
  ArmSectionFilter(device(), Pid, AnyTableId, 0);
  AnalyzePackets({Packet({Pid, true, 0, 1, 0, false}, WithPointer(0, PmtLike(4095)))});
  ASSERT_EQ(Read(&out, 5000, &needed), STATUS_SUCCESS);
  EXPECT_EQ(needed, 4096u + 7);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), (Bytes{0x00, 0x10, 0, 0}));
  EXPECT_EQ(Bytes(out.begin() + 4 + 183, out.begin() + 4 + 4096), Bytes(4096 - 183, 0));
}

}  // namespace
}  // namespace dtvtest
