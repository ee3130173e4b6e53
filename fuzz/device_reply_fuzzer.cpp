// Fuzzes the driver's start against a device whose replies come from the
// input: the device descriptor, the configuration descriptor (any length,
// any content), the status of each control transfer and the download status.
// Whatever the device says, start must succeed or fail cleanly and leave no
// pool block behind after stop.
#include <cstdint>
#include <cstring>
#include <vector>

#include "adapter/dispatch.h"
#include "kernel/kernel.h"
#include "streamclass/stream_class.h"
#include "usb/usb_bus.h"

namespace {

using emu::usb::BulkReply;
using emu::usb::ControlReply;
using emu::usb::SetupPacket;

class FuzzedDevice : public emu::usb::UsbDevice {
 public:
  FuzzedDevice(const uint8_t* data, size_t size) {
    if (size > 0) {
      failures_ = data[0];
      data++;
      size--;
    }
    size_t deviceBytes = std::min<size_t>(size, 18);
    device_.assign(data, data + deviceBytes);
    configuration_.assign(data + deviceBytes, data + size);
  }

  ControlReply Control(const SetupPacket& setup, uint8_t* data) override {
    transfers_++;
    if ((failures_ & 0x0F) == transfers_ % 16 && (failures_ >> 4) != 0) {
      return ControlReply{USBD_STATUS_STALL_PID, 0, emu::usb::Completion::Immediate};
    }
    if (setup.request == USB_REQUEST_GET_DESCRIPTOR && setup.requestType == 0x80) {
      const std::vector<uint8_t>& source =
          setup.value >> 8 == USB_DEVICE_DESCRIPTOR_TYPE ? device_ : configuration_;
      size_t length = std::min<size_t>(source.size(), setup.length);
      if (length != 0) {
        std::memcpy(data, source.data(), length);
      }
      return ControlReply{USBD_STATUS_SUCCESS, length, emu::usb::Completion::Immediate};
    }
    if (setup.requestType == 0xC0 && setup.length != 0) {
      data[0] = static_cast<uint8_t>(failures_ & 0x80);
      return ControlReply{USBD_STATUS_SUCCESS, 1, emu::usb::Completion::Immediate};
    }
    return ControlReply{USBD_STATUS_SUCCESS, setup.length, emu::usb::Completion::Immediate};
  }

  BulkReply BulkIn(uint8_t, uint8_t*, size_t) override { return BulkReply{}; }

 private:
  std::vector<uint8_t> device_;
  std::vector<uint8_t> configuration_;
  uint8_t failures_ = 0;
  unsigned transfers_ = 0;
};

emu::Minidriver& TheDriver() {
  static emu::Minidriver* driver = new emu::Minidriver(DriverEntry);
  return *driver;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDevice device(data, size);
  emu::usb::UsbPort port(device);
  {
    emu::Adapter adapter(TheDriver(), port.PhysicalDevice());
    if (adapter.Start() == STATUS_SUCCESS) {
      adapter.Stop();
    }
  }
  if (emu::Pool::HeldBlocks() != 0) {
    emu::Pool::CheckNoLeaks("after a start and stop");
  }
  return 0;
}
