// Packet alignment and dispatch: the grid, the packet carried across
// buffers, validity, and the order in which the analyses see packets.
#include "analysis_rig.h"

namespace dtvtest {
namespace {

constexpr uint16_t VideoPid = 0x100;
constexpr uint16_t GuidePid = 0x12;
constexpr uint16_t ServiceId = 0x0401;

// A payload holding a sequence header of 720x480, aspect 3.
Bytes SequenceHeader() { return {0x00, 0x00, 0x01, 0xB3, 0x2D, 0x01, 0xE0, 0x33}; }

Bytes Filler(uint16_t pid, uint8_t cc) { return Packet({pid, false, cc, 1, 0, false}, {0x11}); }

class AlignTest : public AnalysisRig {};

TEST_F(AlignTest, AlignedFullBufferDispatchesEveryPacket) {
  ArmVideoProbe(device(), VideoPid);
  std::vector<Bytes> packets;
  for (int i = 0; i < 127; i++) {
    packets.push_back(Filler(0x200, static_cast<uint8_t>(i)));
  }
  packets.push_back(Packet({VideoPid, true, 0, 1, 0, false}, SequenceHeader()));
  Bytes buffer = Join(packets);
  ASSERT_EQ(buffer.size(), 24064u);
  EXPECT_TRUE(Analyze(buffer));
  EXPECT_EQ(Signals(EVENT_VIDEO_INFO), 1) << "the 128th packet was probed";
  EXPECT_EQ(device()->Recording.CarryCount, 0u);
}

TEST_F(AlignTest, ShortOrGridlessBuffersAreSkipped) {
  ArmVideoProbe(device(), VideoPid);
  Bytes three = Join({Filler(0x200, 0), Filler(0x200, 1),
                      Packet({VideoPid, true, 0, 1, 0, false}, SequenceHeader())});
  device()->Recording.CarryCount = 5;
  EXPECT_FALSE(Analyze(Bytes(three.begin(), three.end() - 1))) << "563 bytes";
  EXPECT_EQ(device()->Recording.CarryCount, 5u);
  // Sync bytes at 0 and 188 only: no offset shows three of them 188 apart.
  Bytes noGrid(24064, 0x00);
  noGrid[0] = noGrid[188] = 0x47;
  EXPECT_FALSE(Analyze(noGrid));
  EXPECT_EQ(device()->Recording.CarryCount, 5u);
  EXPECT_EQ(Signals(EVENT_VIDEO_INFO), 0);

  device()->Recording.CarryCount = 0;
  EXPECT_TRUE(Analyze(three)) << "564 bytes with sync bytes at 0, 188 and 376";
  EXPECT_EQ(Signals(EVENT_VIDEO_INFO), 1);
  EXPECT_EQ(device()->Recording.CarryCount, 0u);
}

TEST_F(AlignTest, SplitPacketIsJoinedAndOfferedToTheGuideOnly) {
  StartGuideCollection(device(), ServiceId, GuideModePresentFollowing);
  ArmVideoProbe(device(), VideoPid);
  // 127 packets and 124 bytes of a guide packet that starts a section; the
  // next buffer's grid starts at 64 with the rest of it.
  Bytes section = EitSection(0x4E, ServiceId, 0, 0, 0, 0x4E, 40);
  Bytes guide = Packet({GuidePid, true, 0, 1, 0, false}, WithPointer(0, section));
  std::vector<Bytes> packets;
  for (int i = 0; i < 127; i++) {
    packets.push_back(Filler(0x200, static_cast<uint8_t>(i)));
  }
  Bytes first = Join(packets);
  first.insert(first.end(), guide.begin(), guide.begin() + 124);
  ASSERT_EQ(first.size(), 24000u);
  EXPECT_TRUE(Analyze(first));
  EXPECT_EQ(device()->Recording.CarryCount, 124u);

  Bytes second(guide.begin() + 124, guide.end());
  for (int i = 0; i < 3; i++) {
    Bytes filler = Filler(0x200, static_cast<uint8_t>(i));
    second.insert(second.end(), filler.begin(), filler.end());
  }
  EXPECT_TRUE(Analyze(second));
  EXPECT_EQ(device()->Recording.CarryCount, 0u);
  EXPECT_EQ(Signals(EVENT_GUIDE_COMPLETE), 1) << "the joined packet reached the collector";
  Bytes result(GuideResultSize);
  EXPECT_EQ(ReadGuideResult(device(), result.data()), 43u + 2);

  // A joined packet of the probed PID is not probed.
  Bytes video = Packet({VideoPid, true, 0, 1, 0, false}, SequenceHeader());
  Bytes third = Join(packets);
  third.insert(third.end(), video.begin(), video.begin() + 124);
  Bytes fourth(video.begin() + 124, video.end());
  for (int i = 0; i < 3; i++) {
    Bytes filler = Filler(0x200, static_cast<uint8_t>(i));
    fourth.insert(fourth.end(), filler.begin(), filler.end());
  }
  EXPECT_TRUE(Analyze(third));
  EXPECT_TRUE(Analyze(fourth));
  EXPECT_EQ(Signals(EVENT_VIDEO_INFO), 0);
  EXPECT_EQ(device()->VideoProbePid, VideoPid);
}

TEST_F(AlignTest, LostSyncInvalidatesTheRestOfTheBuffer) {
  ArmVideoProbe(device(), VideoPid);
  std::vector<Bytes> packets;
  for (int i = 0; i < 10; i++) {
    packets.push_back(Filler(0x200, static_cast<uint8_t>(i)));
  }
  Bytes buffer = Join(packets);
  buffer.insert(buffer.begin() + 188 * 5, 0x00);  // one stray byte: sync lost
  Bytes header = Packet({VideoPid, true, 0, 1, 0, false}, SequenceHeader());
  buffer.insert(buffer.begin() + 188 * 8 + 1, header.begin(), header.end());
  EXPECT_TRUE(Analyze(buffer));
  EXPECT_EQ(Signals(EVENT_VIDEO_INFO), 0) << "packets after the break are not valid";
  Bytes next = Join({Filler(0x200, 0), header, Filler(0x200, 1)});
  next.insert(next.begin(), {0x01, 0x02, 0x03});
  EXPECT_TRUE(Analyze(next));
  EXPECT_EQ(Signals(EVENT_VIDEO_INFO), 1) << "the next buffer finds its own grid";
}

TEST_F(AlignTest, NullAndErroredPacketsReachNoAnalysis) {
  ArmSectionFilter(device(), 0x1FFF, AnyTableId, 0);
  Bytes section = Section(0x02, 40, {0, 1, 0xC1, 0, 0});
  Bytes payload = WithPointer(0, section);
  AnalyzePackets({Packet({0x1FFF, true, 0, 1, 0, false}, payload)});
  EXPECT_EQ(Signals(EVENT_SECTION_READY), 0);
  ArmSectionFilter(device(), 0x30, AnyTableId, 0);
  AnalyzePackets({Packet({0x30, true, 0, 1, 0, true}, payload)});
  EXPECT_EQ(Signals(EVENT_SECTION_READY), 0);
  AnalyzePackets({Packet({0x30, true, 1, 1, 0, false}, payload)});
  EXPECT_EQ(Signals(EVENT_SECTION_READY), 1);
}

TEST_F(AlignTest, AnAnalysisThatCompletesIsIdleForTheRestOfTheBuffer) {
  ArmVideoProbe(device(), VideoPid);
  Bytes header = Packet({VideoPid, true, 0, 1, 0, false}, SequenceHeader());
  Bytes other = Packet({VideoPid, true, 1, 1, 0, false},
                       {0x00, 0x00, 0x01, 0xB3, 0x16, 0x02, 0x40, 0x23});
  AnalyzePackets({header, other});
  EXPECT_EQ(Signals(EVENT_VIDEO_INFO), 1);
  EXPECT_EQ(ReadVideoInfo(device()).Width, 720) << "the second header was not probed";
  EXPECT_EQ(device()->VideoProbePid, 0x1FFF);

  Bytes section = Section(0x02, 40, {0, 1, 0xC1, 0, 0});
  Bytes payload = WithPointer(0, section);
  ArmSectionFilter(device(), 0x30, AnyTableId, 0);
  AnalyzePackets({Packet({0x30, true, 0, 1, 0, false}, payload),
                  Packet({0x30, true, 1, 1, 0, false}, payload)});
  EXPECT_EQ(Signals(EVENT_SECTION_READY), 1);
  EXPECT_EQ(device()->SectionFilterArmed, 0u);
  EXPECT_EQ(device()->SectionSlots[0].Pid, 0x1FFF);
  ULONG needed = 0;
  Bytes data(64);
  EXPECT_EQ(ReadCaughtSection(device(), data.data(), 64, &needed), STATUS_SUCCESS);
  EXPECT_EQ(needed, 50u);
}

}  // namespace
}  // namespace dtvtest
