// The analyses on the built-in multiplex, through the whole stack: reads on
// the pin, bulk transfers of varied lengths, the analyses in the completion
// path. What they find is checked against the multiplex's published plan.
#include <set>

#include "analysis_rig.h"
#include "capture.h"
#include "stream/multiplex_plan.h"

namespace dtvtest {
namespace {

// CRC-32/MPEG-2 of a section including its CRC_32: 0 when intact.
uint32_t Crc32Mpeg2(const uint8_t* data, size_t size) {
  uint32_t crc = 0xFFFFFFFF;
  for (size_t i = 0; i < size; i++) {
    crc ^= static_cast<uint32_t>(data[i]) << 24;
    for (int bit = 0; bit < 8; bit++) {
      crc = crc & 0x80000000 ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
    }
  }
  return crc;
}

class MultiplexAnalysisTest : public AnalysisRig {
 protected:
  void SetUp() override {
    options().receiver.shortTransfersPercent = 30;
    options().receiver.skipBytes = 77;  // the stream starts mid-packet
    AnalysisRig::SetUp();
  }

  // Runs the pin until the event fires (or a generous limit passes).
  void CaptureUntil(ULONG event) {
    int before = Signals(event);
    dtv::CaptureSettings settings;
    settings.seconds = 30;
    dtv::Capture(host(), settings,
                 [&](const uint8_t*, size_t) { return Signals(event) == before; });
    ASSERT_GT(Signals(event), before) << "the event never fired";
  }
};

const sim::ServiceInfo& FirstService() { return sim::MultiplexServices().front(); }

TEST_F(MultiplexAnalysisTest, ScheduleGuideHoldsIntactSectionsOfThePlan) {
  uint16_t service = FirstService().serviceId;
  StartGuideCollection(device(), service, GuideModeSchedule);
  CaptureUntil(EVENT_GUIDE_COMPLETE);
  Bytes result(GuideResultSize);
  ULONG length = ReadGuideResult(device(), result.data());
  std::set<std::pair<int, int>> seen;
  for (size_t at = 0; at < length;) {
    size_t size = result[at] | (result[at + 1] << 8);
    const uint8_t* section = result.data() + at + 2;
    EXPECT_EQ(Crc32Mpeg2(section, size), 0u) << "a section assembled intact";
    EXPECT_EQ((section[3] << 8) | section[4], service);
    seen.insert({section[0], section[6]});
    at += 2 + size;
  }
  std::set<std::pair<int, int>> planned;
  std::set<std::pair<int, int>> firstTable;
  for (const sim::EitTableInfo& table : sim::MultiplexEitTables()) {
    if (table.serviceId == service && table.tableId >= 0x50) {
      for (const sim::EitSectionInfo& section : table.sections) {
        planned.insert({table.tableId, section.sectionNumber});
        if (table.tableId == 0x50) {
          firstTable.insert({table.tableId, section.sectionNumber});
        }
      }
    }
  }
  // Every section gathered is one the plan sends. A table not yet seen on
  // this device awaits nothing, so the guide is complete once every table
  // that has been seen is: here at least the whole of table 0x50.
  for (const auto& key : seen) {
    EXPECT_TRUE(planned.count(key)) << key.first << "/" << key.second;
  }
  for (const auto& key : firstTable) {
    EXPECT_TRUE(seen.count(key)) << key.first << "/" << key.second;
  }
}

TEST_F(MultiplexAnalysisTest, VideoProbeFindsEachServicesPictureSize) {
  for (const sim::ServiceInfo& service : sim::MultiplexServices()) {
    SCOPED_TRACE(service.name);
    ArmVideoProbe(device(), service.videoPid);
    CaptureUntil(EVENT_VIDEO_INFO);
    VideoInfoRecord info = ReadVideoInfo(device());
    EXPECT_EQ(info.Width, service.width);
    EXPECT_EQ(info.Height, service.height);
    EXPECT_EQ(info.AspectRatio, service.aspectRatioInformation);
  }
}

TEST_F(MultiplexAnalysisTest, SectionFilterCatchesAnIntactPmt) {
  ArmSectionFilter(device(), FirstService().pmtPid, 0x02, 0);
  CaptureUntil(EVENT_SECTION_READY);
  Bytes data(1024);
  ULONG needed = 0;
  ASSERT_EQ(ReadCaughtSection(device(), data.data(), static_cast<ULONG>(data.size()), &needed),
            STATUS_SUCCESS);
  uint32_t length = data[0] | data[1] << 8 | data[2] << 16 | data[3] << 24;
  EXPECT_EQ(data[4], 0x02);
  EXPECT_EQ((data[7] << 8) | data[8], FirstService().serviceId);
  EXPECT_EQ(Crc32Mpeg2(data.data() + 4, length), 0u);
}

}  // namespace
}  // namespace dtvtest
