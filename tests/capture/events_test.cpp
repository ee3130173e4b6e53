// Device events: a result that nobody listens for stays available, and of
// two entries of one event only the first is signalled.
#include "analysis_rig.h"

namespace dtvtest {
namespace {

const Bytes Header = {0x00, 0x00, 0x01, 0xB3, 0x2D, 0x01, 0xE0, 0x33};

class EventsTest : public Rig {
 protected:
  void SetUp() override { BuildAndStart(); }
  void Probe() {
    ArmVideoProbe(device(), 0x100);
    Bytes buffer = Join({Packet({0x100, true, 0, 1, 0, false}, Header),
                         Packet({0x1FFF, false, 0, 1, 0, false}, {}),
                         Packet({0x1FFF, false, 0, 1, 0, false}, {})});
    emu::IrqlScope dispatch(DISPATCH_LEVEL);
    AnalyzeCapturedBuffer(device(), buffer.data(), static_cast<ULONG>(buffer.size()));
  }
};

TEST_F(EventsTest, ResultWithoutListenerStaysAvailable) {
  Probe();
  EXPECT_EQ(device()->VideoProbePid, 0x1FFF) << "disarmed all the same";
  EXPECT_EQ(ReadVideoInfo(device()).Width, 720);
}

TEST_F(EventsTest, OnlyTheFirstEnabledEntryIsSignalled) {
  NTSTATUS status;
  GUID set{STATIC_EVENTSETID_VIDEO_INFO};
  auto first = adapter().EnableEvent(set, EVENT_VIDEO_INFO, &status);
  auto second = adapter().EnableEvent(set, EVENT_VIDEO_INFO, &status);
  auto other = adapter().EnableEvent(GUID{STATIC_EVENTSETID_SECTION_READY}, EVENT_SECTION_READY,
                                     &status);
  Probe();
  EXPECT_EQ(first->Signals(), 1);
  EXPECT_EQ(second->Signals(), 0);
  EXPECT_EQ(other->Signals(), 0);
  EXPECT_EQ(adapter().DisableEvent(first), STATUS_SUCCESS);
  Probe();
  EXPECT_EQ(second->Signals(), 1) << "now the first enabled entry";
}

}  // namespace
}  // namespace dtvtest
