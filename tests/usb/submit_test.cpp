// Vendor requests built from a VendorCommand and submitted synchronously,
// whether the bus completes them at once or later from another thread.
#include <cstring>

#include "rig.h"
#include "usb/usb_device.h"

namespace dtvtest {
namespace {

class SubmitTest : public Rig, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    options().receiver.deferCompletion = GetParam();
    BuildAndStart();
    host().Port().ClearControlLog();
  }

  NTSTATUS Send(VendorCommand* command) { return Ezusb_SendVendorCommand(device(), command); }
};

VendorCommand Command(UCHAR request, USHORT value, USHORT length, bool in) {
  VendorCommand command;
  std::memset(&command, 0, sizeof(command));
  command.Request = request;
  command.Value = value;
  command.Length = length;
  command.Direction = in;
  std::memset(command.Data, 0x5A, sizeof(command.Data));
  return command;
}

TEST_P(SubmitTest, RequestWithoutDataStage) {
  VendorCommand command = Command(0xBC, 0x00AA, 0, false);
  EXPECT_EQ(Send(&command), STATUS_SUCCESS);
  EXPECT_EQ(command.Length, 0);
  auto log = host().Port().ControlLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].setup.requestType, 0x40);
  EXPECT_EQ(log[0].setup.request, 0xBC);
  EXPECT_EQ(log[0].setup.value, 0x00AA);
  EXPECT_EQ(log[0].setup.length, 0);
}

TEST_P(SubmitTest, ShortInReplyReportsTheBytesThatCame) {
  VendorCommand command = Command(0xBC, 0, 8, true);  // the status poll answers one byte
  EXPECT_EQ(Send(&command), STATUS_SUCCESS);
  EXPECT_EQ(command.Length, 1);
  EXPECT_EQ(command.Data[0], 0x80);
  EXPECT_EQ(std::vector<uint8_t>(command.Data + 1, command.Data + 8), std::vector<uint8_t>(7, 0x5A));
  EXPECT_EQ(host().Port().ControlLog()[0].setup.requestType, 0xC0);
}

TEST_P(SubmitTest, FailedRequestStillUpdatesTheLength) {
  VendorCommand command = Command(0xB8, 0, 32, true);  // not a request this device knows
  EXPECT_EQ(Send(&command), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(command.Length, 0);
}

INSTANTIATE_TEST_SUITE_P(Completion, SubmitTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Later" : "AtOnce"; });

}  // namespace
}  // namespace dtvtest
