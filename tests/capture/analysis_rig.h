// A started device whose completion-path analyses a test feeds by hand, at
// DISPATCH_LEVEL as the bulk completion routine would, with the four private
// events enabled so their signals can be counted.
#pragma once

#include "capture/align.h"
#include "capture/guide_collector.h"
#include "capture/section_filter.h"
#include "capture/video_probe.h"
#include "control/control_interface.h"
#include "rig.h"
#include "ts_builder.h"

namespace dtvtest {

class AnalysisRig : public Rig {
 protected:
  void SetUp() override {
    BuildAndStart();
    NTSTATUS status;
    const GUID sets[] = {{STATIC_EVENTSETID_SECTION_READY},
                         {STATIC_EVENTSETID_COMMAND_REPLY},
                         {STATIC_EVENTSETID_GUIDE_COMPLETE},
                         {STATIC_EVENTSETID_VIDEO_INFO}};
    for (ULONG id = 0; id < 4; id++) {
      events_[id] = adapter().EnableEvent(sets[id], id, &status);
      ASSERT_EQ(status, STATUS_SUCCESS);
    }
  }

  // One completed buffer through the analyses.
  bool Analyze(const Bytes& buffer) {
    emu::IrqlScope dispatch(DISPATCH_LEVEL);
    return AnalyzeCapturedBuffer(device(), buffer.data(), static_cast<ULONG>(buffer.size()));
  }
  // Packets in one buffer, with null packets added when there are fewer
  // than the three a buffer needs to show its grid.
  bool AnalyzePackets(std::vector<Bytes> packets) {
    while (packets.size() < 3) {
      packets.push_back(NullPacket());
    }
    return Analyze(Join(packets));
  }
  static Bytes NullPacket() { return Packet({0x1FFF, false, 0, 1, 0, false}, {}); }

  int Signals(ULONG id) { return events_[id]->Signals(); }

  std::shared_ptr<emu::EventEntry> events_[4];
};

}  // namespace dtvtest
