// The emulated USB bus driver for one device: it owns the device's physical
// device object, takes IOCTL_INTERNAL_USB_SUBMIT_URB IRPs and turns their URBs
// into control transfers on the default pipe and bulk transfers, which a
// simulated device (UsbDevice) answers. The driver only ever sees URBs and
// IRPs; the device only ever sees setup packets and transfer buffers.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

extern "C" {
#include <usbdi.h>
#include <wdm.h>
}

namespace emu::usb {

struct SetupPacket {
  uint8_t requestType;
  uint8_t request;
  uint16_t value;
  uint16_t index;
  uint16_t length;
};

// When the bus completes a control transfer: inside the submitting call,
// from another thread a moment later, or never (until it is cancelled).
enum class Completion { Immediate, Deferred, Never };

struct ControlReply {
  USBD_STATUS status = USBD_STATUS_SUCCESS;
  size_t length = 0;  // bytes of the data stage (IN: produced; OUT: accepted)
  Completion completion = Completion::Immediate;
};

struct BulkReply {
  enum class Kind { Data, NoData, Failed };
  Kind kind = Kind::NoData;
  size_t length = 0;                  // Data: bytes written into the buffer
  NTSTATUS status = STATUS_SUCCESS;   // Failed: the IRP's status
  USBD_STATUS usbdStatus = USBD_STATUS_SUCCESS;
};

// What a simulated device implements.
class UsbDevice {
 public:
  virtual ~UsbDevice() = default;
  // A control transfer on the default pipe. For an IN request `data` has room
  // for setup.length bytes; for an OUT request it holds them.
  virtual ControlReply Control(const SetupPacket& setup, uint8_t* data) = 0;
  // A bulk IN transfer of up to `length` bytes on `endpoint`; called on the
  // host controller thread. NoData leaves the transfer pending.
  virtual BulkReply BulkIn(uint8_t endpoint, uint8_t* buffer, size_t length) = 0;
};

// One control transfer as it crossed the bus.
struct ControlRecord {
  SetupPacket setup;
  std::vector<uint8_t> data;  // OUT: the bytes sent; IN: the bytes returned
  USBD_STATUS status;
};

// Walks a configuration descriptor within its wTotalLength; stops at the
// first descriptor that does not fit. Shared by the bus and the USBD helpers.
struct InterfaceLayout {
  const USB_INTERFACE_DESCRIPTOR* descriptor;
  std::vector<const USB_ENDPOINT_DESCRIPTOR*> endpoints;
};
std::vector<InterfaceLayout> ParseInterfaces(const USB_CONFIGURATION_DESCRIPTOR* configuration);

class UsbPort {
 public:
  explicit UsbPort(UsbDevice& device);
  // Removal: bug-checks when a transfer is still pending.
  ~UsbPort();
  UsbPort(const UsbPort&) = delete;
  UsbPort& operator=(const UsbPort&) = delete;

  PDEVICE_OBJECT PhysicalDevice() { return &device_; }

  std::vector<ControlRecord> ControlLog();
  void ClearControlLog();
  // Tells the controller that the device may have data now.
  void Kick();
  size_t PendingBulkTransfers();
  size_t StuckControlTransfers();
  uint64_t BulkTransfersCompleted();
  bool Configured();

  // Used by the bus dispatch routine.
  NTSTATUS Dispatch(PIRP irp);

 private:
  struct Pipe {
    USBD_PIPE_INFORMATION info;
    std::deque<PIRP> queue;
  };

  NTSTATUS Complete(PIRP irp, PURB urb, USBD_STATUS status, bool pended);
  NTSTATUS Control(PIRP irp, PURB urb, const SetupPacket& setup, uint8_t* buffer, bool in,
                   ULONG* transferLength);
  NTSTATUS SelectConfiguration(PIRP irp, PURB urb);
  NTSTATUS QueueBulk(PIRP irp, PURB urb);
  Pipe* FindPipe(USBD_PIPE_HANDLE handle);
  void RunController();
  void RunDeferred();
  static VOID NTAPI CancelBulk(PDEVICE_OBJECT device, PIRP irp);
  static VOID NTAPI CancelStuck(PDEVICE_OBJECT device, PIRP irp);

  UsbDevice& usbDevice_;
  DEVICE_OBJECT device_{};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<ControlRecord> log_;
  std::vector<std::unique_ptr<Pipe>> pipes_;
  std::deque<std::pair<PIRP, USBD_STATUS>> deferred_;
  std::vector<PIRP> stuck_;
  uint64_t bulkCompleted_ = 0;
  bool configured_ = false;
  bool kicked_ = false;
  bool stopping_ = false;
  std::thread controller_;
  std::thread deferredThread_;
};

}  // namespace emu::usb
