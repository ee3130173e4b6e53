// The test rig (see rig.h).
#include "rig.h"

namespace dtvtest {

KSDATAFORMAT CaptureFormat() {
  KSDATAFORMAT format{};
  format.FormatSize = sizeof(KSDATAFORMAT);
  format.SampleSize = 24064;
  format.MajorFormat = GUID{STATIC_KSDATAFORMAT_TYPE_STREAM};
  format.SubFormat = GUID{STATIC_KSDATAFORMAT_TYPE_MPEG2_TRANSPORT};
  format.Specifier = GUID{STATIC_KSDATAFORMAT_SPECIFIER_NONE};
  return format;
}

void Rig::Build() {
  emu::Registry::Clear();
  emu::DeviceInterfaces::Clear();
  emu::DebugLog::Clear();
  emu::Pool::ClearFailures();
  std::string error;
  host_ = dtv::Host::Create(options_, &error);
  ASSERT_NE(host_, nullptr) << error;
}

void Rig::BuildAndStart() {
  Build();
  ASSERT_EQ(host_->Start(), STATUS_SUCCESS);
}

void Rig::TearDown() {
  emu::SetCompletionHook(nullptr);
  emu::Pool::ClearFailures();
  host_.reset();
}

std::unique_ptr<emu::Stream> Rig::OpenCapture() {
  NTSTATUS status;
  auto stream = adapter().OpenStream(0, CaptureFormat(), &status);
  EXPECT_EQ(status, STATUS_SUCCESS);
  return stream;
}

}  // namespace dtvtest
