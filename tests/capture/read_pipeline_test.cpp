// The read pipeline: read SRBs as bulk transfers, their statuses and data,
// cancellation, stream state and close, and a capture that delivers the
// input byte for byte.
#include <cstdio>
#include <fstream>

#include "capture.h"
#include "capture/read_pipeline.h"
#include "rig.h"
#include "ts_builder.h"

namespace dtvtest {
namespace {

using namespace std::chrono_literals;

constexpr ULONG SampleSize = 24064;
constexpr ULONG UrbTag = 0x43424944;  // "DIBC"

// A transport stream of `packets` packets with a counting payload.
Bytes CountingStream(size_t packets) {
  std::vector<Bytes> list;
  for (size_t i = 0; i < packets; i++) {
    Bytes payload(184);
    for (size_t j = 0; j < payload.size(); j++) {
      payload[j] = static_cast<uint8_t>(i * 7 + j);
    }
    list.push_back(Packet({0x100, false, static_cast<uint8_t>(i & 15), 1, 0, false}, payload));
  }
  return Join(list);
}

class ReadPipelineTest : public Rig {
 protected:
  // Plays `bytes` from a file; once they are consumed, transfers stay pending.
  void PlayBytes(const Bytes& bytes) {
    path_ = ::testing::TempDir() + "read_pipeline_input.ts";
    std::ofstream(path_, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    options().inputPath = path_;
  }

  void StartRunning() {
    BuildAndStart();
    stream_ = OpenCapture();
    ASSERT_EQ(stream_->SetState(KSSTATE_RUN), STATUS_SUCCESS);
  }

  std::shared_ptr<emu::Request> Read(ULONG frameExtent = SampleSize) {
    auto read = stream_->NewRead(SampleSize, frameExtent);
    stream_->Deliver(read);
    return read;
  }

  void TearDown() override {
    stream_.reset();
    Rig::TearDown();
    if (!path_.empty()) {
      std::remove(path_.c_str());
    }
  }

  std::unique_ptr<emu::Stream> stream_;
  std::string path_;
};

TEST_F(ReadPipelineTest, ReadsOutsideRunCompleteAtOnceAndEmpty) {
  BuildAndStart();
  stream_ = OpenCapture();
  for (KSSTATE state : {KSSTATE_STOP, KSSTATE_ACQUIRE, KSSTATE_PAUSE}) {
    ASSERT_EQ(stream_->SetState(state), STATUS_SUCCESS);
    auto read = stream_->NewRead(SampleSize, SampleSize);
    read->Header().DataUsed = 777;
    stream_->Deliver(read);
    ASSERT_TRUE(read->Completed());
    EXPECT_EQ(read->Status(), STATUS_SUCCESS);
    EXPECT_EQ(read->Header().DataUsed, 777u);
  }
  EXPECT_EQ(host().Receiver().BytesStreamed(), 0u);
  auto write = stream_->NewRead(SampleSize, SampleSize);
  write->Srb()->Command = SRB_WRITE_DATA;
  stream_->Deliver(write);
  ASSERT_TRUE(write->Wait());
  EXPECT_EQ(write->Status(), STATUS_NOT_IMPLEMENTED);
}

TEST_F(ReadPipelineTest, ShortTransferDeliversWhatArrivedAndCountsIt) {
  Bytes input = CountingStream(6);
  input.resize(1000);
  PlayBytes(input);
  StartRunning();
  device()->CaptureStats.TotalBytes = 0xFFFFFF00;
  auto read = Read();
  ASSERT_TRUE(read->Wait());
  EXPECT_EQ(read->Status(), STATUS_SUCCESS);
  EXPECT_EQ(read->Header().DataUsed, 1000u);
  EXPECT_EQ(Bytes(read->Buffer().begin(), read->Buffer().begin() + 1000), input);
  EXPECT_EQ(device()->CaptureStats.TotalBytes, 1000u - 256) << "the counter wraps";
  EXPECT_EQ(device()->Recording.CarryCount, 0u) << "no analysis armed: the buffer is not read";
}

TEST_F(ReadPipelineTest, FrameExtentBoundsTheTransfer) {
  PlayBytes(CountingStream(200));
  StartRunning();
  auto read = Read(500);
  ASSERT_TRUE(read->Wait());
  EXPECT_EQ(read->Header().DataUsed, 500u);
  EXPECT_EQ(read->Buffer()[500], 0xCD) << "nothing written past the frame";
}

TEST_F(ReadPipelineTest, FailedTransfersMapToTheirStatus) {
  struct Case {
    const char* name;
    std::function<void(sim::ReceiverOptions&)> misbehave;
    NTSTATUS status;
  };
  const Case cases[] = {
      {"data error", [](sim::ReceiverOptions& o) { o.bulkErrorsPercent = 100; },
       STATUS_DEVICE_DATA_ERROR},
      {"device gone", [](sim::ReceiverOptions& o) { o.disconnectAfter = 1; o.skipBytes = 0; },
       STATUS_SUCCESS},
      {"no bulk pipe (the bus refuses the transfer)",
       [](sim::ReceiverOptions& o) { o.shape = sim::ConfigurationShape::NoBulkPipe; },
       STATUS_UNSUCCESSFUL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    options().receiver = sim::ReceiverOptions{};
    c.misbehave(options().receiver);
    StartRunning();
    auto read = Read();
    ASSERT_TRUE(read->Wait());
    EXPECT_EQ(read->Status(), c.status);
    if (c.status != STATUS_SUCCESS) {
      EXPECT_EQ(read->Header().DataUsed, 0u);
    } else {
      // The device delivered its last byte; then it is gone.
      auto next = Read();
      ASSERT_TRUE(next->Wait());
      EXPECT_EQ(next->Status(), STATUS_DEVICE_NOT_CONNECTED);
      EXPECT_EQ(next->Header().DataUsed, 0u);
    }
    stream_.reset();
    host_.reset();
  }
}

TEST_F(ReadPipelineTest, MissingUrbOrIrpCompletesTheReadAtOnce) {
  PlayBytes({});
  StartRunning();
  emu::Pool::FailTag(UrbTag);
  auto noUrb = Read();
  emu::Pool::ClearFailures();
  ASSERT_TRUE(noUrb->Completed());
  EXPECT_EQ(noUrb->Status(), STATUS_INSUFFICIENT_RESOURCES);
  emu::Irps::FailNextAllocation();
  auto noIrp = Read();
  ASSERT_TRUE(noIrp->Completed());
  EXPECT_EQ(noIrp->Status(), STATUS_INSUFFICIENT_RESOURCES);
  EXPECT_TRUE(IsListEmpty(&device()->PendingReadList[0]));
}

TEST_F(ReadPipelineTest, CancelOfAPendingReadCompletesItOnceAsCancelled) {
  PlayBytes({});  // nothing to deliver: transfers stay pending
  StartRunning();
  auto pending = Read();
  auto other = Read();
  EXPECT_FALSE(pending->Wait(20ms));
  auto* context = static_cast<StreamContext*>(stream_->Extension());
  auto never = stream_->NewRead(SampleSize, SampleSize);
  EXPECT_FALSE(CancelPendingRead(context, never->Srb())) << "not a pending read";
  adapter().Cancel(pending);
  ASSERT_TRUE(pending->Wait());
  EXPECT_EQ(pending->Status(), STATUS_CANCELLED);
  EXPECT_EQ(pending->Header().DataUsed, 0u);
  EXPECT_FALSE(other->Completed()) << "a cancel touches no other read";
  adapter().Cancel(pending);  // already completed: no effect
}

TEST_F(ReadPipelineTest, StopLeavesReadsPendingAndCloseCancelsThemBeforeItReturns) {
  PlayBytes({});
  StartRunning();
  std::vector<std::shared_ptr<emu::Request>> reads;
  for (int i = 0; i < 6; i++) {
    reads.push_back(Read());
  }
  ASSERT_EQ(stream_->SetState(KSSTATE_STOP), STATUS_SUCCESS);
  EXPECT_FALSE(reads[0]->Wait(20ms));
  EXPECT_EQ(host().Port().PendingBulkTransfers(), 6u);
  ASSERT_EQ(stream_->Close(), STATUS_SUCCESS);
  for (auto& read : reads) {
    EXPECT_TRUE(read->Completed()) << "completed before close returned";
    EXPECT_EQ(read->Status(), STATUS_CANCELLED);
  }
  EXPECT_EQ(emu::Irps::Outstanding(), 0u);
}

TEST_F(ReadPipelineTest, CaptureDeliversTheInputByteForByteWhateverTheTransferSizes) {
  Bytes input = CountingStream(3000);
  PlayBytes(input);
  options().receiver.shortTransfersPercent = 50;
  options().receiver.seed = 7;
  BuildAndStart();
  dtv::CaptureSettings settings;
  settings.untilSourceEnds = true;
  settings.readsInFlight = 6;
  Bytes output;
  dtv::CaptureResult result = dtv::Capture(host(), settings, [&](const uint8_t* data, size_t size) {
    output.insert(output.end(), data, data + size);
    return true;
  });
  ASSERT_EQ(result.status, STATUS_SUCCESS);
  EXPECT_EQ(result.failedReads, 0u);
  EXPECT_GT(result.reads, input.size() / SampleSize + 5) << "many short transfers";
  EXPECT_EQ(output, input);
  EXPECT_EQ(device()->CaptureStats.TotalBytes, input.size());
}

}  // namespace
}  // namespace dtvtest
