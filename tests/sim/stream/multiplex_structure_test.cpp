// The generated stream is well formed packet by packet: sync, continuity,
// program clock, time stamps and the video sequence headers.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "section_collector.h"
#include "stream/audio_frame.h"
#include "stream/multiplex.h"
#include "stream/pes_packet.h"
#include "stream/pes_packetizer.h"
#include "stream/video_encoder.h"
#include "stream_capture.h"
#include "ts_fields.h"

namespace sim {
namespace {

using test::PacketList;

constexpr double CaptureSeconds = 4;
constexpr uint64_t MaxPcrGapTicks = PcrClockHz * 40 / 1000;
constexpr size_t SequenceHeaderSize = 12;

class MultiplexStructure : public testing::Test {
 protected:
  static void SetUpTestSuite() { stream_ = new PacketList(test::CaptureMultiplex(CaptureSeconds)); }
  static void TearDownTestSuite() {
    delete stream_;
    stream_ = nullptr;
  }
  static const PacketList& Stream() { return *stream_; }

 private:
  static PacketList* stream_;
};

PacketList* MultiplexStructure::stream_ = nullptr;

// 90 kHz time stamp of a PES header.
uint64_t PtsOf(const uint8_t* pes) {
  return (uint64_t{pes[9]} >> 1 & 0x07) << 30 | uint64_t{pes[10]} << 22 |
         (uint64_t{pes[11]} >> 1) << 15 | uint64_t{pes[12]} << 7 | uint64_t{pes[13]} >> 1;
}

TEST_F(MultiplexStructure, PacketsAreSyncedAndCountersAdvancePerPid) {
  const PacketList& stream = Stream();
  std::map<uint16_t, uint8_t> last;
  size_t adaptationOnly = 0;
  size_t nulls = 0;
  for (size_t i = 0; i < stream.size(); i++) {
    const uint8_t* p = stream[i];
    ASSERT_EQ(p[0], TsSyncByte) << "packet " << i;
    ASSERT_TRUE(test::HasAdaptation(p) || test::HasPayload(p)) << "packet " << i;
    if (test::HasAdaptation(p)) {
      ASSERT_LE(p[TsHeaderSize], test::HasPayload(p) ? 182 : 183) << "packet " << i;
    }
    const uint16_t pid = test::PidOf(p);
    if (pid == NullPid) {
      nulls++;
      continue;
    }
    const uint8_t counter = test::ContinuityOf(p);
    if (last.count(pid) != 0) {
      const uint8_t expected =
          test::HasPayload(p) ? (last[pid] + 1) % ContinuityCounterModulo : last[pid];
      ASSERT_EQ(counter, expected) << "packet " << i << " on PID " << pid;
    }
    adaptationOnly += !test::HasPayload(p);
    last[pid] = counter;
  }
  EXPECT_GT(adaptationOnly, 0u) << "no adaptation-only packet: their counter rule went untested";
  EXPECT_GT(nulls, 0u);
  for (const ServiceInfo& service : MultiplexServices()) {
    for (uint16_t pid : {service.pmtPid, service.videoPid, service.audioPid}) {
      EXPECT_EQ(last.count(pid), 1u) << "PID " << pid << " never sent";
    }
  }
}

TEST_F(MultiplexStructure, TablePidsCarryWholeSectionsWithGoodCrc) {
  std::vector<uint16_t> pids = {PatPid, SdtPid, EitPid};
  for (const ServiceInfo& service : MultiplexServices()) {
    pids.push_back(service.pmtPid);
  }
  for (uint16_t pid : pids) {
    SCOPED_TRACE("PID " + std::to_string(pid));
    test::SectionCollector collector(pid);
    for (size_t i = 0; i < Stream().size(); i++) {
      collector.Push(Stream()[i], i);
    }
    EXPECT_TRUE(collector.Errors().empty()) << collector.Errors().front();
    ASSERT_FALSE(collector.Sections().empty());
    for (const test::CollectedSection& section : collector.Sections()) {
      EXPECT_TRUE(section.crcOk) << "section from packet " << section.firstPacket;
    }
  }
}

TEST_F(MultiplexStructure, PesPacketsStartUnitsAndLeadTheClock) {
  const PacketList& stream = Stream();
  for (const ServiceInfo& service : MultiplexServices()) {
    struct Elementary {
      uint16_t pid;
      uint8_t streamId;
      uint64_t ptsStep;
    };
    const Elementary streams[] = {
        {service.videoPid, VideoStreamId, PtsClockHz / VideoEncoder::FramesPerSecond},
        {service.audioPid, AudioStreamId, PtsClockHz * AudioSamplesPerFrame / AudioSampleRate},
    };
    for (const Elementary& es : streams) {
      SCOPED_TRACE("PID " + std::to_string(es.pid));
      std::optional<uint64_t> previous;
      size_t units = 0;
      for (size_t i = 0; i < stream.size(); i++) {
        const uint8_t* p = stream[i];
        if (test::PidOf(p) != es.pid || !test::UnitStartOf(p)) {
          continue;
        }
        const uint8_t* pes = p + test::PayloadOffset(p);
        ASSERT_LE(test::PayloadOffset(p) + 14, TsPacketSize);
        ASSERT_EQ(pes[0] << 16 | pes[1] << 8 | pes[2], 0x000001) << "packet " << i;
        ASSERT_EQ(pes[3], es.streamId);
        ASSERT_EQ(pes[7] & 0xC0, 0x80) << "no PTS in packet " << i;
        const uint64_t pts = PtsOf(pes);
        // The unit arrives before it is shown, but not absurdly early.
        const uint64_t arrival = i * PtsClockHz / MultiplexPacketsPerSecond;
        EXPECT_GT(pts, arrival) << "packet " << i;
        EXPECT_LT(pts, arrival + PtsClockHz) << "packet " << i;
        if (previous) {
          EXPECT_EQ(pts - *previous, es.ptsStep) << "packet " << i;
        }
        previous = pts;
        units++;
      }
      EXPECT_GT(units, 10u);
    }
  }
}

TEST_F(MultiplexStructure, PcrComesEvery40MsAndFollowsTheNominalRate) {
  const PacketList& stream = Stream();
  std::set<uint16_t> pcrPids;
  for (const ServiceInfo& service : MultiplexServices()) {
    pcrPids.insert(service.pcrPid);
  }
  for (uint16_t pid : pcrPids) {
    SCOPED_TRACE("PID " + std::to_string(pid));
    std::optional<std::pair<size_t, uint64_t>> previous;
    size_t count = 0;
    for (size_t i = 0; i < stream.size(); i++) {
      if (test::PidOf(stream[i]) != pid) {
        continue;
      }
      const std::optional<uint64_t> pcr = test::PcrOf(stream[i]);
      if (!pcr) {
        continue;
      }
      if (previous) {
        const uint64_t ticks = *pcr - previous->second;
        // The clock advances as the bytes between the two do at the nominal rate.
        const uint64_t expected =
            (i - previous->first) * TsPacketSize * 8 * PcrClockHz / MultiplexBitrate;
        EXPECT_NEAR(static_cast<double>(ticks), static_cast<double>(expected), 1.0)
            << "packet " << i;
        EXPECT_LE(ticks, MaxPcrGapTicks) << "packet " << i;
      } else {
        EXPECT_LE(i * TsPacketSize * 8 * PcrClockHz / MultiplexBitrate, MaxPcrGapTicks)
            << "first PCR comes late";
      }
      previous = {i, *pcr};
      count++;
    }
    EXPECT_GE(count, static_cast<size_t>(CaptureSeconds * 25));
  }
  for (size_t i = 0; i < stream.size(); i++) {
    if (test::PcrOf(stream[i])) {
      ASSERT_EQ(pcrPids.count(test::PidOf(stream[i])), 1u)
          << "PCR off the PCR PIDs in packet " << i;
    }
  }
}

// Sequence headers found in the payload of one PID, and where they lay.
struct SequenceHeaderSighting {
  uint16_t width;
  uint16_t height;
  uint8_t aspect;
  size_t offset;  // of the start code in its packet
  bool whole;     // the twelve header bytes lie in that packet
};

std::vector<SequenceHeaderSighting> FindSequenceHeaders(const PacketList& stream, uint16_t pid) {
  std::vector<uint8_t> payload;
  std::vector<size_t> packetOf;  // for each payload byte, its packet
  std::vector<size_t> offsetOf;  // and its offset there
  for (size_t i = 0; i < stream.size(); i++) {
    if (test::PidOf(stream[i]) != pid) {
      continue;
    }
    for (size_t o = test::PayloadOffset(stream[i]); o < TsPacketSize; o++) {
      payload.push_back(stream[i][o]);
      packetOf.push_back(i);
      offsetOf.push_back(o);
    }
  }
  std::vector<SequenceHeaderSighting> found;
  for (size_t k = 0; k + SequenceHeaderSize <= payload.size(); k++) {
    if (payload[k] == 0 && payload[k + 1] == 0 && payload[k + 2] == 1 && payload[k + 3] == 0xB3) {
      found.push_back({static_cast<uint16_t>(payload[k + 4] << 4 | payload[k + 5] >> 4),
                       static_cast<uint16_t>((payload[k + 5] & 0x0F) << 8 | payload[k + 6]),
                       static_cast<uint8_t>(payload[k + 7] >> 4), offsetOf[k],
                       packetOf[k] == packetOf[k + SequenceHeaderSize - 1]});
    }
  }
  return found;
}

TEST_F(MultiplexStructure, SequenceHeadersCarryTheServiceFormatAtVaryingOffsets) {
  for (const ServiceInfo& service : MultiplexServices()) {
    SCOPED_TRACE(service.name);
    const std::vector<SequenceHeaderSighting> headers =
        FindSequenceHeaders(Stream(), service.videoPid);
    // One every GOP.
    const size_t gops = static_cast<size_t>(CaptureSeconds * VideoEncoder::FramesPerSecond /
                                            VideoEncoder::GopLength);
    EXPECT_GE(headers.size(), gops);
    std::set<size_t> offsets;
    size_t whole = 0;
    for (const SequenceHeaderSighting& h : headers) {
      EXPECT_EQ(h.width, service.width);
      EXPECT_EQ(h.height, service.height);
      EXPECT_EQ(h.aspect, service.aspectRatioInformation);
      offsets.insert(h.offset);
      whole += h.whole;
    }
    EXPECT_GE(offsets.size(), 4u);
    EXPECT_GT(whole, 0u) << "no header lies whole inside a packet";
    EXPECT_LT(whole, headers.size()) << "no header runs across two packets";
  }
}

}  // namespace
}  // namespace sim
