// Packing of sections into packets: back to back, pointer_field over the
// tail under way, stuffing only once nothing more is queued.
#include "stream/section_packetizer.h"

#include <gtest/gtest.h>

#include <vector>

#include "section_collector.h"
#include "ts_fields.h"

namespace sim {
namespace {

using test::SectionCollector;

constexpr uint16_t TestPid = 0x0123;
constexpr int NoPointer = -1;

// A section of `size` bytes whose header gives its length, filled with `fill`.
Section MakeSection(size_t size, uint8_t fill) {
  Section section(size, fill);
  section[0] = 0x4E;
  section[1] = static_cast<uint8_t>(0xB0 | ((size - 3) >> 8));
  section[2] = static_cast<uint8_t>(size - 3);
  return section;
}

struct ExpectedPacket {
  bool unitStart;
  int pointer;
  size_t stuffing;  // 0xFF bytes closing the packet
};

struct PackingCase {
  const char* name;
  std::vector<size_t> sectionSizes;  // queued together
  std::vector<ExpectedPacket> packets;
  size_t mostStartsInOnePacket;
};

void PrintTo(const PackingCase& c, std::ostream* os) { *os << c.name; }

class SectionPacking : public testing::TestWithParam<PackingCase> {};

TEST_P(SectionPacking, LaysSectionsAsExpected) {
  const PackingCase& c = GetParam();
  SectionPacketizer packetizer(TestPid);
  std::vector<Section> queued;
  for (size_t i = 0; i < c.sectionSizes.size(); i++) {
    queued.push_back(MakeSection(c.sectionSizes[i], static_cast<uint8_t>(0x10 + i)));
    packetizer.Queue(queued.back());
  }

  SectionCollector collector(TestPid);
  std::vector<uint8_t> packet(TsPacketSize);
  size_t index = 0;
  for (; packetizer.Pending(); index++) {
    ASSERT_LT(index, c.packets.size()) << "more packets than expected";
    packetizer.WritePacket(packet.data());
    const ExpectedPacket& expected = c.packets[index];
    SCOPED_TRACE("packet " + std::to_string(index));
    EXPECT_EQ(packet[0], TsSyncByte);
    EXPECT_EQ(test::PidOf(packet.data()), TestPid);
    EXPECT_EQ(test::ContinuityOf(packet.data()), index % ContinuityCounterModulo);
    EXPECT_FALSE(test::HasAdaptation(packet.data()));
    EXPECT_EQ(test::UnitStartOf(packet.data()), expected.unitStart);
    if (expected.pointer != NoPointer) {
      EXPECT_EQ(packet[TsHeaderSize], expected.pointer);
    }
    size_t stuffing = 0;
    while (stuffing < TsPayloadSize && packet[TsPacketSize - 1 - stuffing] == StuffingByte) {
      stuffing++;
    }
    EXPECT_EQ(stuffing, expected.stuffing);
    collector.Push(packet.data(), index);
  }
  EXPECT_EQ(index, c.packets.size());

  EXPECT_TRUE(collector.Errors().empty()) << collector.Errors().front();
  ASSERT_EQ(collector.Sections().size(), queued.size());
  for (size_t i = 0; i < queued.size(); i++) {
    EXPECT_EQ(collector.Sections()[i].bytes, queued[i]) << "section " << i;
  }
  EXPECT_EQ(collector.MostStartsInOnePacket(), c.mostStartsInOnePacket);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SectionPacking,
    testing::Values(PackingCase{"SmallSectionsShareAPacket", {20, 20, 20, 20}, {{true, 0, 103}}, 4},
                    PackingCase{
                        "ExactFitNeedsNoStuffing", {183, 20}, {{true, 0, 0}, {true, 0, 163}}, 1},
                    // The second section starts right behind the first one's tail.
                    PackingCase{"NextSectionStartsAfterTheTail",
                                {300, 100},
                                {{true, 0, 0}, {true, 117, 0}, {false, NoPointer, 150}},
                                1},
                    // A tail of 182 leaves one byte: the next section starts in it.
                    PackingCase{"TailLeavesOneByte",
                                {365, 10},
                                {{true, 0, 0}, {true, 182, 0}, {false, NoPointer, 175}},
                                1},
                    // A tail of 183 leaves no room for a pointer_field: one byte of
                    // stuffing, and the next section opens the next packet.
                    PackingCase{"TailLeavesNoRoomForAPointer",
                                {366, 10},
                                {{true, 0, 0}, {false, NoPointer, 1}, {true, 0, 173}},
                                1}),
    [](const testing::TestParamInfo<PackingCase>& info) { return info.param.name; });

TEST(SectionPacketizer, SectionsQueuedLaterStartAFreshPacket) {
  SectionPacketizer packetizer(TestPid);
  std::vector<uint8_t> first(TsPacketSize);
  std::vector<uint8_t> second(TsPacketSize);
  packetizer.Queue(MakeSection(250, 0x21));
  packetizer.WritePacket(first.data());
  packetizer.WritePacket(first.data());  // the tail: nothing else queued, so stuffing
  EXPECT_FALSE(test::UnitStartOf(first.data()));
  EXPECT_FALSE(packetizer.Pending());

  packetizer.Queue(MakeSection(30, 0x22));
  packetizer.WritePacket(second.data());
  EXPECT_TRUE(test::UnitStartOf(second.data()));
  EXPECT_EQ(second[TsHeaderSize], 0);
  EXPECT_EQ(test::ContinuityOf(second.data()), 2);
}

TEST(SectionPacketizer, RefusesMisuse) {
  SectionPacketizer packetizer(TestPid);
  std::vector<uint8_t> packet(TsPacketSize);
  EXPECT_THROW(packetizer.WritePacket(packet.data()), std::logic_error);
  EXPECT_THROW(packetizer.Queue(Section{}), std::invalid_argument);
}

}  // namespace
}  // namespace sim
