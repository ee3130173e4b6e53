// Device start and stop on the simulated bus: the requests in order, the
// configuration cases, the FPGA download, the presence values, restart, and
// the failure of every step leaving nothing behind.
#include <cstring>

#include "control/control_interface.h"
#include "fpga_image.h"
#include "rig.h"
#include "usb/usb_device.h"

namespace dtvtest {
namespace {

using emu::usb::ControlRecord;

class StartTest : public Rig {
 protected:
  void SetUp() override { options().registryKeys = dtv::PresenceKeys(); }

  std::vector<ControlRecord> Log() { return host().Port().ControlLog(); }

  int Count(uint8_t requestType, uint8_t request) {
    int count = 0;
    for (const ControlRecord& record : Log()) {
      count += record.setup.requestType == requestType && record.setup.request == request;
    }
    return count;
  }

  std::optional<uint32_t> Presence(const char* key) {
    auto value = emu::Registry::ReadValue(key, PRESENCE_VALUE_NAME);
    if (!value) {
      return std::nullopt;
    }
    EXPECT_EQ(value->type, static_cast<ULONG>(REG_DWORD));
    uint32_t data = 0;
    std::memcpy(&data, value->data.data(), std::min<size_t>(4, value->data.size()));
    return data;
  }

  bool InterfaceEnabled() {
    auto all = emu::DeviceInterfaces::All();
    return !all.empty() && all.back().enabled;
  }
};

void ExpectSetup(const ControlRecord& record, uint8_t type, uint8_t request, uint16_t value,
                 uint16_t index, uint16_t length) {
  EXPECT_EQ(record.setup.requestType, type);
  EXPECT_EQ(record.setup.request, request);
  EXPECT_EQ(record.setup.value, value);
  EXPECT_EQ(record.setup.index, index);
  EXPECT_EQ(record.setup.length, length);
}

TEST_F(StartTest, RequestsOnTheBusFollowTheStartSequence) {
  BuildAndStart();
  std::vector<ControlRecord> log = Log();
  ASSERT_EQ(log.size(), 3u + 1 + 1 + 860);
  ExpectSetup(log[0], 0x80, 6, 0x0100, 0, 18);
  ExpectSetup(log[1], 0x80, 6, 0x0200, 0, 521);
  ExpectSetup(log[2], 0x00, 9, 1, 0, 0);
  ExpectSetup(log[3], 0x40, 0xBC, 0x00AA, 0, 1);
  EXPECT_EQ(log[3].data, std::vector<uint8_t>{0x00});
  ExpectSetup(log[4], 0xC0, 0xBC, 0, 0, 1);
  std::vector<uint8_t> sent;
  for (size_t i = 5; i < log.size(); i++) {
    SCOPED_TRACE(i);
    ExpectSetup(log[i], 0x40, 0xBB, 0, 0, i + 1 < log.size() ? 64 : 48);
    sent.insert(sent.end(), log[i].data.begin(), log[i].data.end());
  }
  EXPECT_EQ(sent, std::vector<uint8_t>(FpgaImage, FpgaImage + FpgaImageSize));
  EXPECT_TRUE(host().Receiver().FpgaConfigured());
  EXPECT_EQ(host().Receiver().Configuration(), 1);

  EXPECT_EQ(emu::DebugLog::Messages(),
            (std::vector<std::string>{"\n+Enter Ezusb_ConfigureDownload\n",
                                      "\nEnter DownloadFPGACode on EP0\n",
                                      "\nStart to Download FPGA code ...\n",
                                      "-Exit DownloadFPGACode on EP0\n"}));
}

TEST_F(StartTest, StartedDeviceState) {
  BuildAndStart();
  EXPECT_EQ(adapter().DeclaredDescriptorSize(),
            sizeof(HW_STREAM_HEADER) + sizeof(HW_STREAM_INFORMATION));
  EXPECT_EQ(device()->DeviceReady, 1);
  EXPECT_EQ(device()->PhysicalDevice, host().Port().PhysicalDevice());
  for (const SectionSlot& slot : device()->SectionSlots) {
    EXPECT_EQ(slot.Pid, 0x1FFF);
  }
  EXPECT_EQ(device()->VideoProbePid, 0x1FFF);
  auto interfaces = emu::DeviceInterfaces::All();
  ASSERT_EQ(interfaces.size(), 1u);
  EXPECT_EQ(interfaces[0].referenceString, "GLOBAL");
  EXPECT_EQ(emu::GuidString(interfaces[0].interfaceClass), "{37C2A086-24F3-4ED2-8501-A1CD7E50BB08}");
  EXPECT_EQ(interfaces[0].physicalDevice, host().Port().PhysicalDevice());
  EXPECT_TRUE(interfaces[0].enabled);

  auto registrations = adapter().Registrations();
  ASSERT_EQ(registrations.size(), 1u);
  EXPECT_EQ(emu::GuidString(registrations[0].interfaceClass),
            "{65E8773D-8F56-11D0-A3B9-00A0C9223196}");
  EXPECT_EQ(registrations[0].pinCount, 1u);
  EXPECT_EQ(registrations[0].pinDirections, std::vector<bool>{true});
  EXPECT_EQ(emu::GuidString(registrations[0].mediums[0].Set),
            "{00000000-0000-0000-0000-000000000000}");
  EXPECT_EQ(registrations[0].mediums[0].Id, device()->InstanceNumber);
  EXPECT_EQ(Presence(PRESENCE_ARRIVAL_KEY), 100u);
  EXPECT_EQ(Presence(PRESENCE_DEPARTURE_KEY), std::nullopt);

  ASSERT_EQ(adapter().Stop(), STATUS_SUCCESS);
  EXPECT_FALSE(InterfaceEnabled());
  EXPECT_EQ(Presence(PRESENCE_DEPARTURE_KEY), 100u);
  EXPECT_EQ(device()->UsbInfoRecord, nullptr);
  EXPECT_EQ(emu::Pool::HeldBlocks(), 0u) << "stop leaves no pool block behind";
}

TEST_F(StartTest, PresenceValuesNeedTheirKeys) {
  options().registryKeys.clear();
  BuildAndStart();
  ASSERT_EQ(adapter().Stop(), STATUS_SUCCESS);
  EXPECT_FALSE(emu::Registry::KeyExists(PRESENCE_ARRIVAL_KEY));
  EXPECT_FALSE(emu::Registry::KeyExists(PRESENCE_DEPARTURE_KEY));
}

TEST_F(StartTest, RestartOnTheSameAdapterTakesANewInstanceNumber) {
  BuildAndStart();
  ULONG first = device()->InstanceNumber;
  device()->CaptureStats.TotalBytes = 1234;
  device()->SectionFilterArmed = 1;
  device()->Guide.ResultLength = 99;
  ASSERT_EQ(adapter().Stop(), STATUS_SUCCESS);
  host().Port().ClearControlLog();
  ASSERT_EQ(adapter().Start(), STATUS_SUCCESS);
  EXPECT_EQ(device()->InstanceNumber, first + 1);
  EXPECT_EQ(adapter().Registrations().back().mediums[0].Id, first + 1);
  EXPECT_EQ(device()->CaptureStats.TotalBytes, 0u);
  EXPECT_EQ(device()->SectionFilterArmed, 0u);
  EXPECT_EQ(device()->Guide.ResultLength, 0u);
  EXPECT_EQ(Log().size(), 865u) << "the whole start sequence again";
  EXPECT_TRUE(InterfaceEnabled());
}

TEST_F(StartTest, ConfigurationShapes) {
  struct Case {
    const char* name;
    sim::ConfigurationShape shape;
    NTSTATUS status;
    std::vector<uint16_t> configReads;  // wLength of each configuration read
    int bulkEndpoint;                   // endpoint of BulkPipeHandle; 0: none
  };
  const Case cases[] = {
      {"standard", sim::ConfigurationShape::Standard, STATUS_SUCCESS, {521}, 0x82},
      {"large", sim::ConfigurationShape::Large, STATUS_SUCCESS, {521, 625}, 0x82},
      {"two bulk pipes", sim::ConfigurationShape::TwoBulkPipes, STATUS_SUCCESS, {521}, 0x82},
      {"no bulk pipe", sim::ConfigurationShape::NoBulkPipe, STATUS_SUCCESS, {521}, 0},
      {"no interface", sim::ConfigurationShape::NoInterface, STATUS_UNSUCCESSFUL, {521}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    options().receiver.shape = c.shape;
    Build();
    EXPECT_EQ(host().Start(), c.status);
    std::vector<uint16_t> reads;
    for (const ControlRecord& record : Log()) {
      if (record.setup.request == 6 && record.setup.value == 0x0200) {
        reads.push_back(record.setup.length);
      }
    }
    EXPECT_EQ(reads, c.configReads);
    if (c.status == STATUS_SUCCESS) {
      const UsbInfo* usb = device()->UsbInfoRecord;
      int endpoint = 0;
      for (ULONG i = 0; i < usb->InterfaceInfo->NumberOfPipes; i++) {
        EXPECT_EQ(usb->InterfaceInfo->Pipes[i].MaximumTransferSize, 0x10000u);
        if (usb->InterfaceInfo->Pipes[i].PipeHandle == device()->BulkPipeHandle) {
          endpoint = usb->InterfaceInfo->Pipes[i].EndpointAddress;
        }
      }
      EXPECT_EQ(endpoint, c.bulkEndpoint);
      EXPECT_EQ(device()->BulkPipeHandle == nullptr, c.bulkEndpoint == 0);
    } else {
      EXPECT_EQ(Count(0x00, 9), 0) << "no selection sent";
      EXPECT_EQ(Presence(PRESENCE_DEPARTURE_KEY), std::nullopt);
      EXPECT_FALSE(InterfaceEnabled());
      EXPECT_EQ(emu::Pool::HeldBlocks(), 0u);
    }
    host_.reset();
  }
}

TEST_F(StartTest, UnusableConfigurationRepliesFailTheStart) {
  struct Case {
    const char* name;
    bool empty;
    bool truncated;
    int shortRequest;
  };
  for (Case c : {Case{"zero bytes", true, false, 0}, Case{"cut after 9 bytes", false, true, 0},
                 Case{"half the descriptor", false, false, 2}}) {
    SCOPED_TRACE(c.name);
    options().receiver.emptyConfiguration = c.empty;
    options().receiver.truncatedConfiguration = c.truncated;
    options().receiver.shortRequest = c.shortRequest;
    Build();
    std::vector<std::string> tags;
    emu::Pool::FailWhen([&tags](const emu::PoolAllocation& allocation) {
      tags.push_back(emu::Pool::TagName(allocation.tag));
      return false;
    });
    EXPECT_EQ(host().Start(), STATUS_UNSUCCESSFUL);
    emu::Pool::ClearFailures();
    EXPECT_EQ(std::count(tags.begin(), tags.end(), "USBD"), 0)
        << "the reply never reaches USBD_CreateConfigurationRequest";
    EXPECT_EQ(Count(0x00, 9), 0);
    EXPECT_EQ(emu::Pool::HeldBlocks(), 0u);
    host_.reset();
  }
}

TEST_F(StartTest, DownloadPolls) {
  struct Case {
    const char* name;
    int readyAfter;
    bool withoutData;
    int polls;
  };
  const Case cases[] = {
      {"ready at once", 1, false, 1},
      {"ready at the third", 3, false, 3},
      {"never ready", 0, false, 5},
      {"no data byte", 1, true, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    options().receiver.readyAfterPolls = c.readyAfter;
    options().receiver.pollWithoutData = c.withoutData;
    BuildAndStart();
    EXPECT_EQ(Count(0x40, 0xBB), 860);
    EXPECT_TRUE(host().Receiver().FpgaConfigured());
    host_.reset();
  }
}

TEST_F(StartTest, RefusedChunkFailsTheStartAndSignalsDeparture) {
  options().receiver.refuseChunk = 10;
  Build();
  EXPECT_EQ(host().Start(), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(host().Receiver().ImageBytesReceived(), 576u);
  EXPECT_FALSE(host().Receiver().FpgaConfigured());
  EXPECT_EQ(Count(0x40, 0xBB), 10) << "no chunk after the refused one";
  EXPECT_EQ(emu::DebugLog::Messages(),
            (std::vector<std::string>{"\n+Enter Ezusb_ConfigureDownload\n",
                                      "\nEnter DownloadFPGACode on EP0\n",
                                      "\nStart to Download FPGA code ...\n",
                                      "-Exit DownloadFPGACode on EP0\n"}));
  EXPECT_FALSE(InterfaceEnabled());
  EXPECT_EQ(Presence(PRESENCE_DEPARTURE_KEY), 100u);
  EXPECT_EQ(Presence(PRESENCE_ARRIVAL_KEY), std::nullopt);
  EXPECT_EQ(emu::Pool::HeldBlocks(), 0u);
}

TEST_F(StartTest, FailedRequestsFailTheStartAtTheirStep) {
  struct Case {
    const char* name;
    int request;     // control transfer that stalls
    bool departure;  // the departure value is written
  };
  const Case cases[] = {
      {"device descriptor", 1, false},
      {"configuration descriptor", 2, false},
      {"selection", 3, false},
      {"download mode", 4, true},
      {"status poll", 5, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    options().receiver.failRequest = c.request;
    Build();
    EXPECT_EQ(host().Start(), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(static_cast<int>(Log().size()), c.request) << "nothing sent after the failure";
    EXPECT_EQ(Count(0x40, 0xBB), 0);
    EXPECT_EQ(Presence(PRESENCE_DEPARTURE_KEY).has_value(), c.departure);
    EXPECT_FALSE(InterfaceEnabled());
    EXPECT_EQ(emu::Pool::HeldBlocks(), 0u);
    host_.reset();
  }
}

TEST_F(StartTest, PollFailureLeavesOnlyTheEntryTexts) {
  options().receiver.failRequest = 5;
  Build();
  EXPECT_EQ(host().Start(), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(emu::DebugLog::Messages(),
            (std::vector<std::string>{"\n+Enter Ezusb_ConfigureDownload\n",
                                      "\nEnter DownloadFPGACode on EP0\n"}));
}

TEST_F(StartTest, ControlTransferThatNeverCompletesFailsTheStartInBoundedTime) {
  emu::SetTimeScale(0.01);
  options().receiver.hangRequest = 5;  // the first status poll
  Build();
  EXPECT_EQ(host().Start(), STATUS_UNSUCCESSFUL);
  emu::SetTimeScale(1.0);
  EXPECT_EQ(host().Port().StuckControlTransfers(), 0u) << "the hung transfer was cancelled";
  EXPECT_FALSE(InterfaceEnabled());
  EXPECT_EQ(emu::Pool::HeldBlocks(), 0u);
}

TEST_F(StartTest, DeferredCompletionsStartTheDeviceToo) {
  options().receiver.deferCompletion = true;
  BuildAndStart();
  EXPECT_TRUE(host().Receiver().FpgaConfigured());
  EXPECT_EQ(Log().size(), 865u);
}

TEST_F(StartTest, AccessRangesOrARefusedInterfaceStopBeforeTheBus) {
  Build();
  EXPECT_EQ(host().Start(1), STATUS_NO_SUCH_DEVICE);
  EXPECT_TRUE(emu::DeviceInterfaces::All().empty());
  host_.reset();

  Build();
  emu::DeviceInterfaces::FailNextRegistration(STATUS_INSUFFICIENT_RESOURCES);
  EXPECT_EQ(host().Start(), STATUS_UNSUCCESSFUL);
  EXPECT_TRUE(Log().empty());
  EXPECT_EQ(emu::Pool::HeldBlocks(), 0u);
}

TEST_F(StartTest, AllocationFailureAtEachStepLeavesNothingHeld) {
  Build();
  uint64_t before = emu::Pool::AllocationCount();
  ASSERT_EQ(host().Start(), STATUS_SUCCESS);
  uint64_t allocations = emu::Pool::AllocationCount() - before;
  host_.reset();
  ASSERT_GT(allocations, 10u);
  for (uint64_t n = 1; n <= allocations; n++) {
    SCOPED_TRACE("allocation " + std::to_string(n));
    Build();
    emu::Pool::FailNth(n);
    NTSTATUS status = host().Start();
    emu::Pool::ClearFailures();
    EXPECT_EQ(status, STATUS_UNSUCCESSFUL);
    EXPECT_EQ(emu::Pool::HeldBlocks(), 0u);
    EXPECT_FALSE(InterfaceEnabled());
    host_.reset();
  }
}

TEST_F(StartTest, DownloadAllocationFailuresPrintTheirTexts) {
  struct Case {
    const char* name;
    size_t size;  // size of the allocation that fails
    NTSTATUS expected;
    std::vector<std::string> texts;
  };
  const Case cases[] = {
      {"vendor command", sizeof(VendorCommand), STATUS_UNSUCCESSFUL,
       {"\n+Enter Ezusb_ConfigureDownload\n"}},
      {"packet buffer", 65, STATUS_UNSUCCESSFUL,
       {"\n+Enter Ezusb_ConfigureDownload\n", "\nEnter DownloadFPGACode on EP0\n",
        "** DownloadFPGACode() unable to alloc Packet - Exiting\n"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Build();
    size_t size = c.size;
    emu::Pool::FailWhen([size](const emu::PoolAllocation& a) { return a.size == size; });
    EXPECT_EQ(host().Start(), c.expected);
    emu::Pool::ClearFailures();
    EXPECT_EQ(emu::DebugLog::Messages(), c.texts);
    host_.reset();
  }

  // The URB of the download: the first vendor-URB-sized allocation after the
  // packet buffer.
  Build();
  auto seenPacket = std::make_shared<bool>(false);
  emu::Pool::FailWhen([seenPacket](const emu::PoolAllocation& a) {
    if (a.size == 65) {
      *seenPacket = true;
      return false;
    }
    return *seenPacket && a.size == sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST);
  });
  EXPECT_EQ(host().Start(), STATUS_UNSUCCESSFUL);
  emu::Pool::ClearFailures();
  EXPECT_EQ(emu::DebugLog::Messages(),
            (std::vector<std::string>{"\n+Enter Ezusb_ConfigureDownload\n",
                                      "\nEnter DownloadFPGACode on EP0\n",
                                      "-Exit DownloadFPGACode on EP0\n"}));
  EXPECT_EQ(Count(0xC0, 0xBC), 0);
}

TEST_F(StartTest, TwoAdaptersTakeConsecutiveInstanceNumbers) {
  BuildAndStart();
  ULONG first = device()->InstanceNumber;
  sim::Receiver second(sim::ReceiverOptions{}, nullptr);
  emu::usb::UsbPort port(second);
  {
    emu::Adapter other(host().Driver(), port.PhysicalDevice());
    ASSERT_EQ(other.Start(), STATUS_SUCCESS);
    auto* context = static_cast<DeviceContext*>(other.DeviceExtension());
    EXPECT_EQ(context->InstanceNumber, first + 1);
    EXPECT_EQ(other.Registrations()[0].mediums[0].Id, first + 1);
    EXPECT_EQ(adapter().Registrations()[0].mediums[0].Id, first);
    ASSERT_EQ(other.Stop(), STATUS_SUCCESS);
  }
}

}  // namespace
}  // namespace dtvtest
