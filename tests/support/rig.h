// The test rig: a fresh emulated host (driver, simulated receiver, adapter)
// per test, with helpers to start the adapter and open the capture pin.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "adapter/device_context.h"
#include "capture.h"
#include "host.h"
#include "kernel/kernel.h"

namespace dtvtest {

// The capture pin's format: MPEG-2 transport stream in 24,064-byte samples.
KSDATAFORMAT CaptureFormat();

class Rig : public ::testing::Test {
 protected:
  // Builds the host; options() may be changed by a test before Build().
  void Build();
  void BuildAndStart();
  void TearDown() override;

  dtv::HostOptions& options() { return options_; }
  dtv::Host& host() { return *host_; }
  emu::Adapter& adapter() { return host_->Adapter(); }
  DeviceContext* device() { return static_cast<DeviceContext*>(adapter().DeviceExtension()); }

  // Opens stream 0 with the capture format; fails the test when refused.
  std::unique_ptr<emu::Stream> OpenCapture();

  std::unique_ptr<dtv::Host> host_;
  dtv::HostOptions options_;
};

}  // namespace dtvtest
