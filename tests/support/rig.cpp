// The test rig (see rig.h).
#include "rig.h"

namespace dtvtest {

KSDATAFORMAT CaptureFormat() { return dtv::TransportStreamFormat(); }

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
