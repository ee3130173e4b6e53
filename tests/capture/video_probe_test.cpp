// The video sequence-header probe.
#include "analysis_rig.h"

namespace dtvtest {
namespace {

constexpr uint16_t Pid = 0x100;
const Bytes Header = {0x00, 0x00, 0x01, 0xB3, 0x2D, 0x01, 0xE0, 0x33};  // 720x480, aspect 3

// A packet of the PID whose payload holds `bytes` from payload byte `at` on.
Bytes At(size_t at, const Bytes& bytes, uint8_t cc = 0, bool start = false) {
  Bytes payload(at, 0x00);
  payload.insert(payload.end(), bytes.begin(), bytes.end());
  return Packet({Pid, start, cc, 1, 0, false}, payload);
}

class VideoProbeTest : public AnalysisRig {};

TEST_F(VideoProbeTest, DecodesTheFirstHeaderAndSignalsOnce) {
  EXPECT_EQ(ReadVideoInfo(device()).Width, 0);
  ArmVideoProbe(device(), Pid);
  AnalyzePackets({At(10, Header)});
  VideoInfoRecord info = ReadVideoInfo(device());
  EXPECT_EQ(info.Width, 720);
  EXPECT_EQ(info.Height, 480);
  EXPECT_EQ(info.AspectRatio, 3);
  EXPECT_EQ(Signals(EVENT_VIDEO_INFO), 1);
  EXPECT_EQ(device()->VideoProbePid, 0x1FFF);
}

TEST_F(VideoProbeTest, WhereTheCodeMayLie) {
  struct Case {
    const char* name;
    std::vector<Bytes> packets;
    bool found;
  };
  Bytes split1 = At(182, {0x00, 0x00}, 0);
  Bytes split2 = At(0, {0x01, 0xB3, 0x2D, 0x01, 0xE0, 0x33}, 1);
  const Case cases[] = {
      {"code and sizes inside the packet at byte 180", {At(176, Header)}, true},
      {"code split across two packets", {split1, split2}, false},
      {"code at byte 185 is not searched", {At(181, {0x00, 0x00, 0x01})}, false},
      {"no payload", {Packet({Pid, false, 0, 2, 183, false}, {})}, false},
      {"another PID", {Packet({0x101, false, 0, 1, 0, false}, Header)}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int before = Signals(EVENT_VIDEO_INFO);
    ArmVideoProbe(device(), Pid);
    AnalyzePackets(c.packets);
    EXPECT_EQ(Signals(EVENT_VIDEO_INFO) - before, c.found ? 1 : 0);
  }
}

TEST_F(VideoProbeTest, HeaderEndingThePacketTakesItsSizesFromTheNextPacketOfThePid) {
  // The code at packet byte 184: its four size bytes are in the next packet.
  ArmVideoProbe(device(), Pid);
  Bytes code = At(180, {0x00, 0x00, 0x01, 0xB3}, 4);
  Bytes rest = At(0, {0x2D, 0x01, 0xE0, 0x33}, 5);
  AnalyzePackets({code, Packet({0x200, false, 0, 1, 0, false}, {0x55}), rest});
  EXPECT_EQ(Signals(EVENT_VIDEO_INFO), 1);
  EXPECT_EQ(ReadVideoInfo(device()).Height, 480);

  // Never from a packet that does not continue the payload.
  ArmVideoProbe(device(), Pid);
  Bytes otherCode = At(178, {0x00, 0x00, 0x01, 0xB3, 0x16, 0x02}, 7);
  Bytes broken = At(0, {0x40, 0x23}, 9);
  AnalyzePackets({otherCode, broken});
  EXPECT_EQ(Signals(EVENT_VIDEO_INFO), 1);
  EXPECT_EQ(device()->VideoProbePid, Pid);
}

TEST_F(VideoProbeTest, PidAboveTheRangeNeverCompletes) {
  ArmVideoProbe(device(), 0x2100);  // its low 13 bits are 0x100
  AnalyzePackets({At(0, Header)});
  EXPECT_EQ(Signals(EVENT_VIDEO_INFO), 0);
  EXPECT_EQ(device()->VideoProbePid, 0x2100);
}

}  // namespace
}  // namespace dtvtest
