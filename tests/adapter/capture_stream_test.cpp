// Capture stream control: open and close, formats, state, stream properties
// and the master clock.
#include <cstring>

#include "rig.h"

namespace dtvtest {
namespace {

class CaptureStreamTest : public Rig {
 protected:
  void SetUp() override { BuildAndStart(); }

  // Runs SRB_GET_DATA_INTERSECTION for a range into a buffer of `size` bytes.
  std::shared_ptr<emu::Request> Intersect(const KSDATARANGE& range, ULONG size,
                                          std::vector<uint8_t>* out, ULONG stream = 0) {
    auto request = adapter().NewDeviceRequest(SRB_GET_DATA_INTERSECTION);
    request->Range() = range;
    request->Buffer().assign(size, 0xEE);
    request->Intersect() =
        STREAM_DATA_INTERSECT_INFO{stream, &request->Range(), request->Buffer().data(), size};
    request->Srb()->CommandData.IntersectInfo = &request->Intersect();
    adapter().Deliver(request);
    EXPECT_TRUE(request->Wait());
    *out = request->Buffer();
    return request;
  }

  NTSTATUS FormatRequest(emu::Stream& stream, SRB_COMMAND command, const KSDATAFORMAT& format) {
    auto request = stream.NewControlRequest(command);
    request->Format() = format;
    request->Srb()->CommandData.OpenFormat = &request->Format();
    stream.Deliver(request);
    EXPECT_TRUE(request->Wait());
    return request->Status();
  }
};

KSDATAFORMAT VideoFormat() {
  KSDATAFORMAT format = CaptureFormat();
  format.MajorFormat = GUID{0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
  return format;
}

TEST_F(CaptureStreamTest, OpenRefusesAnotherNumberASecondInstanceAndOtherMajorFormats) {
  NTSTATUS status;
  EXPECT_EQ(adapter().OpenStream(1, CaptureFormat(), &status), nullptr);
  EXPECT_EQ(status, STATUS_INVALID_PARAMETER);
  EXPECT_EQ(adapter().OpenStream(0, VideoFormat(), &status), nullptr);
  EXPECT_EQ(status, STATUS_INVALID_PARAMETER);
  EXPECT_EQ(device()->StreamInstances[0], 0u);
  EXPECT_EQ(device()->StreamContexts[0], nullptr);

  // Any sub-format is accepted at open: only the major format is tested.
  KSDATAFORMAT odd = CaptureFormat();
  odd.SubFormat.Data1 ^= 1;
  odd.FormatSize = 200;
  auto stream = adapter().OpenStream(0, odd, &status);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(device()->StreamInstances[0], 1u);
  EXPECT_EQ(device()->StreamContexts[0], stream->Extension());
  auto* context = static_cast<StreamContext*>(stream->Extension());
  EXPECT_EQ(context->Device, device());
  EXPECT_EQ(context->StreamObject, stream->Object());
  EXPECT_TRUE(stream->Object()->Pio);
  EXPECT_FALSE(stream->Object()->Dma);
  EXPECT_EQ(stream->Object()->HwClockObject.HwClockFunction, nullptr);
  EXPECT_EQ(stream->Object()->HwClockObject.ClockSupportFlags, 0u);

  EXPECT_EQ(adapter().OpenStream(0, CaptureFormat(), &status), nullptr);
  EXPECT_EQ(status, STATUS_INVALID_PARAMETER);
  EXPECT_EQ(device()->StreamInstances[0], 1u);

  EXPECT_EQ(stream->Close(), STATUS_SUCCESS);
  EXPECT_EQ(device()->StreamInstances[0], 0u);
  EXPECT_EQ(device()->StreamContexts[0], nullptr);
  // Close and reopen: the control queues outlive the stream.
  auto again = OpenCapture();
  KSSTATE state;
  EXPECT_EQ(again->GetState(&state), STATUS_SUCCESS);
}

TEST_F(CaptureStreamTest, StateIsKeptAndPauseReportsNoData) {
  auto stream = OpenCapture();
  struct Case {
    KSSTATE set;
    NTSTATUS status;
  };
  KSSTATE state;
  EXPECT_EQ(stream->GetState(&state), STATUS_SUCCESS);
  EXPECT_EQ(state, KSSTATE_STOP);
  for (Case c : {Case{KSSTATE_RUN, STATUS_SUCCESS}, Case{KSSTATE_PAUSE, STATUS_NO_DATA_DETECTED},
                 Case{KSSTATE_ACQUIRE, STATUS_SUCCESS}, Case{KSSTATE_STOP, STATUS_SUCCESS},
                 Case{KSSTATE_PAUSE, STATUS_NO_DATA_DETECTED}}) {
    EXPECT_EQ(stream->SetState(c.set), STATUS_SUCCESS);
    auto request = stream->NewControlRequest(SRB_GET_STREAM_STATE);
    stream->Deliver(request);
    ASSERT_TRUE(request->Wait());
    EXPECT_EQ(request->Status(), c.status);
    EXPECT_EQ(request->CompletedCommandData().StreamState, c.set);
    EXPECT_EQ(request->ActualBytes(), sizeof(KSSTATE));
  }
}

TEST_F(CaptureStreamTest, IntersectionReturnsTheDriversOwnRange) {
  KSDATARANGE own = CaptureFormat();
  own.SampleSize = 1;  // never compared
  own.Flags = 7;
  KSDATARANGE longer = own;
  longer.FormatSize = 72;
  KSDATARANGE video = VideoFormat();
  struct Case {
    const char* name;
    const KSDATARANGE* range;
    ULONG size;
    NTSTATUS status;
    ULONG bytes;  // ActualBytesTransferred; 0 when not set
  };
  const Case cases[] = {
      {"size query", &own, 4, STATUS_SUCCESS, 4},
      {"exact buffer", &own, 64, STATUS_SUCCESS, 64},
      {"large buffer", &own, 200, STATUS_SUCCESS, 64},
      {"empty buffer", &own, 0, STATUS_BUFFER_TOO_SMALL, 0},
      {"3 bytes", &own, 3, STATUS_BUFFER_TOO_SMALL, 0},
      {"5 bytes", &own, 5, STATUS_BUFFER_TOO_SMALL, 0},
      {"63 bytes", &own, 63, STATUS_BUFFER_TOO_SMALL, 0},
      {"other FormatSize", &longer, 200, STATUS_SUCCESS, 0},
      {"other major format", &video, 200, STATUS_SUCCESS, 0},
      {"other major format, small", &video, 3, STATUS_SUCCESS, 0},
  };
  KSDATARANGE expected = CaptureFormat();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> out;
    auto request = Intersect(*c.range, c.size, &out);
    EXPECT_EQ(request->Status(), c.status);
    EXPECT_EQ(request->ActualBytes(), c.bytes);
    if (c.bytes == 4) {
      uint32_t size;
      std::memcpy(&size, out.data(), 4);
      EXPECT_EQ(size, 64u);
    } else if (c.bytes == 64) {
      EXPECT_EQ(std::memcmp(out.data(), &expected, 64), 0);
      EXPECT_EQ(std::vector<uint8_t>(out.begin() + 64, out.end()),
                std::vector<uint8_t>(out.size() - 64, 0xEE));
    } else {
      EXPECT_EQ(out, std::vector<uint8_t>(c.size, 0xEE)) << "nothing is written";
    }
  }
  std::vector<uint8_t> out;
  EXPECT_EQ(Intersect(own, 64, &out, 1)->Status(), STATUS_NOT_IMPLEMENTED);
}

TEST_F(CaptureStreamTest, ProposedAndSetFormatsMustMatchTheStream) {
  auto stream = OpenCapture();
  KSDATAFORMAT own = CaptureFormat();
  own.FormatSize = 99;  // the size is not compared here
  EXPECT_EQ(FormatRequest(*stream, SRB_PROPOSE_DATA_FORMAT, own), STATUS_SUCCESS);
  EXPECT_EQ(FormatRequest(*stream, SRB_SET_DATA_FORMAT, own), STATUS_SUCCESS);
  EXPECT_EQ(FormatRequest(*stream, SRB_PROPOSE_DATA_FORMAT, VideoFormat()), STATUS_NO_MATCH);
  EXPECT_EQ(FormatRequest(*stream, SRB_SET_DATA_FORMAT, VideoFormat()), STATUS_NO_MATCH);
}

TEST_F(CaptureStreamTest, StreamPropertiesAnswerFramingAndDroppedFrames) {
  auto stream = OpenCapture();
  KSALLOCATOR_FRAMING framing;
  std::memset(&framing, 0xEE, sizeof(framing));
  ULONG returned = 0;
  ASSERT_EQ(stream->GetProperty(GUID{STATIC_KSPROPSETID_Connection},
                                KSPROPERTY_CONNECTION_ALLOCATORFRAMING, &framing, sizeof(framing),
                                &returned),
            STATUS_SUCCESS);
  EXPECT_EQ(returned, 24u);
  EXPECT_EQ(framing.RequirementsFlags, 0x80000003u);
  EXPECT_EQ(framing.PoolType, NonPagedPool);
  EXPECT_EQ(framing.Frames, 512u);
  EXPECT_EQ(framing.FrameSize, 24064u);
  EXPECT_EQ(framing.FileAlignment, 3u);
  EXPECT_EQ(framing.Reserved, 0u);

  KSPROPERTY_DROPPEDFRAMES_CURRENT_S dropped;
  std::memset(&dropped, 0xEE, sizeof(dropped));
  ASSERT_EQ(stream->GetProperty(GUID{STATIC_PROPSETID_VIDCAP_DROPPEDFRAMES},
                                KSPROPERTY_DROPPEDFRAMES_CURRENT, &dropped, sizeof(dropped),
                                &returned),
            STATUS_SUCCESS);
  EXPECT_EQ(returned, 48u);
  EXPECT_EQ(dropped.PictureNumber, 0);
  EXPECT_EQ(dropped.DropCount, 0);
  EXPECT_EQ(dropped.AverageFrameSize, 0u);

  // A set the stream does not have never reaches the driver; one forged past
  // the stream class is refused by the driver.
  EXPECT_EQ(stream->GetProperty(GUID{STATIC_KSCATEGORY_CAPTURE}, 0, &dropped, sizeof(dropped),
                                &returned),
            STATUS_PROPSET_NOT_FOUND);
  auto forged = stream->NewControlRequest(SRB_GET_STREAM_PROPERTY);
  forged->PropertyId().Set = GUID{STATIC_KSCATEGORY_CAPTURE};
  forged->Property() = STREAM_PROPERTY_DESCRIPTOR{&forged->PropertyId(), 0, &dropped,
                                                  sizeof(KSPROPERTY), sizeof(dropped)};
  forged->Srb()->CommandData.PropertyInfo = &forged->Property();
  stream->Deliver(forged);
  ASSERT_TRUE(forged->Wait());
  EXPECT_EQ(forged->Status(), STATUS_NOT_IMPLEMENTED);
}

TEST_F(CaptureStreamTest, MasterClockHandleIsKeptUntilClose) {
  auto stream = OpenCapture();
  auto request = stream->NewControlRequest(SRB_INDICATE_MASTER_CLOCK);
  HANDLE clock = reinterpret_cast<HANDLE>(0x1234);
  request->Srb()->CommandData.MasterClockHandle = clock;
  stream->Deliver(request);
  ASSERT_TRUE(request->Wait());
  EXPECT_EQ(request->Status(), STATUS_SUCCESS);
  EXPECT_EQ(static_cast<StreamContext*>(stream->Extension())->MasterClock, clock);
}

}  // namespace
}  // namespace dtvtest
