// Emulated USB bus driver. Control transfers are answered by the device in
// the submitting call and completed at once, a moment later from another
// thread, or never (until cancelled), as the device chooses. Bulk transfers
// queue per pipe and are filled and completed in submission order by a
// host-controller thread at DISPATCH_LEVEL; a pending one is cancelled
// through its cancel routine.
#include "usb_bus.h"

#include <algorithm>
#include <cstring>

#include "kernel/kernel.h"

namespace emu::usb {
namespace {

constexpr auto NoDataPoll = std::chrono::milliseconds(2);

NTSTATUS NtStatusOf(USBD_STATUS status) {
  switch (status) {
    case USBD_STATUS_SUCCESS:
      return STATUS_SUCCESS;
    case USBD_STATUS_CANCELED:
      return STATUS_CANCELLED;
    case USBD_STATUS_DEVICE_GONE:
    case USBD_STATUS_DEV_NOT_RESPONDING:
      return STATUS_DEVICE_NOT_CONNECTED;
    case USBD_STATUS_INVALID_URB_FUNCTION:
    case USBD_STATUS_INVALID_PARAMETER:
      return STATUS_INVALID_PARAMETER;
    default:
      return STATUS_UNSUCCESSFUL;
  }
}

NTSTATUS NTAPI BusDispatch(PDEVICE_OBJECT device, PIRP irp) {
  return static_cast<UsbPort*>(device->DeviceExtension)->Dispatch(irp);
}

DRIVER_OBJECT& BusDriver() {
  static DRIVER_OBJECT* driver = [] {
    auto* object = new DRIVER_OBJECT{};
    object->Size = sizeof(DRIVER_OBJECT);
    object->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = BusDispatch;
    return object;
  }();
  return *driver;
}

// IoCancelIrp may set Cancel from another thread at any time.
bool Cancelled(PIRP irp) { return __atomic_load_n(&irp->Cancel, __ATOMIC_ACQUIRE) != FALSE; }

PURB UrbOf(PIRP irp) {
  return static_cast<PURB>(IoGetCurrentIrpStackLocation(irp)->Parameters.Others.Argument1);
}

}  // namespace

std::vector<InterfaceLayout> ParseInterfaces(const USB_CONFIGURATION_DESCRIPTOR* configuration) {
  std::vector<InterfaceLayout> interfaces;
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(configuration);
  size_t total = configuration->wTotalLength;
  size_t offset = 0;
  while (offset + 2 <= total) {
    uint8_t length = bytes[offset];
    uint8_t type = bytes[offset + 1];
    if (length < 2 || offset + length > total) {
      break;
    }
    if (type == USB_INTERFACE_DESCRIPTOR_TYPE && length >= sizeof(USB_INTERFACE_DESCRIPTOR)) {
      interfaces.push_back(
          {reinterpret_cast<const USB_INTERFACE_DESCRIPTOR*>(bytes + offset), {}});
    } else if (type == USB_ENDPOINT_DESCRIPTOR_TYPE && length >= sizeof(USB_ENDPOINT_DESCRIPTOR) &&
               !interfaces.empty()) {
      interfaces.back().endpoints.push_back(
          reinterpret_cast<const USB_ENDPOINT_DESCRIPTOR*>(bytes + offset));
    }
    offset += length;
  }
  return interfaces;
}

UsbPort::UsbPort(UsbDevice& device) : usbDevice_(device) {
  device_.Size = sizeof(DEVICE_OBJECT);
  device_.DriverObject = &BusDriver();
  device_.DeviceExtension = this;
  device_.StackSize = 1;
  controller_ = std::thread(&UsbPort::RunController, this);
  deferredThread_ = std::thread(&UsbPort::RunDeferred, this);
}

UsbPort::~UsbPort() {
  size_t pending;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    pending = stuck_.size() + deferred_.size();
    for (const auto& pipe : pipes_) {
      pending += pipe->queue.size();
    }
  }
  changed_.notify_all();
  controller_.join();
  deferredThread_.join();
  if (pending != 0) {
    BugCheck("TRANSFERS_PENDING_AT_REMOVAL",
             std::to_string(pending) + " USB transfer(s) still pending at device removal");
  }
}

std::vector<ControlRecord> UsbPort::ControlLog() {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

void UsbPort::ClearControlLog() {
  std::lock_guard<std::mutex> lock(mutex_);
  log_.clear();
}

void UsbPort::Kick() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    kicked_ = true;
  }
  changed_.notify_all();
}

size_t UsbPort::PendingBulkTransfers() {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t pending = 0;
  for (const auto& pipe : pipes_) {
    pending += pipe->queue.size();
  }
  return pending;
}

size_t UsbPort::StuckControlTransfers() {
  std::lock_guard<std::mutex> lock(mutex_);
  return stuck_.size();
}

uint64_t UsbPort::BulkTransfersCompleted() {
  std::lock_guard<std::mutex> lock(mutex_);
  return bulkCompleted_;
}

bool UsbPort::Configured() {
  std::lock_guard<std::mutex> lock(mutex_);
  return configured_;
}

NTSTATUS UsbPort::Complete(PIRP irp, PURB urb, USBD_STATUS status, bool pended) {
  urb->UrbHeader.Status = status;
  NTSTATUS result = NtStatusOf(status);
  irp->IoStatus.Status = result;
  irp->IoStatus.Information = 0;
  if (pended) {
    IrqlScope scope(DISPATCH_LEVEL);
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_PENDING;
  }
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return result;
}

NTSTATUS UsbPort::Dispatch(PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  if (stack->MajorFunction != IRP_MJ_INTERNAL_DEVICE_CONTROL ||
      stack->Parameters.DeviceIoControl.IoControlCode != IOCTL_INTERNAL_USB_SUBMIT_URB ||
      UrbOf(irp) == nullptr) {
    irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_INVALID_DEVICE_REQUEST;
  }
  PURB urb = UrbOf(irp);
  switch (urb->UrbHeader.Function) {
    case URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE: {
      RequireIrqlAtMost(PASSIVE_LEVEL, "a descriptor request");
      auto& request = urb->UrbControlDescriptorRequest;
      SetupPacket setup{0x80, USB_REQUEST_GET_DESCRIPTOR,
                        static_cast<uint16_t>(request.DescriptorType << 8 | request.Index),
                        request.LanguageId, static_cast<uint16_t>(request.TransferBufferLength)};
      return Control(irp, urb, setup, static_cast<uint8_t*>(request.TransferBuffer), true,
                     &request.TransferBufferLength);
    }
    case URB_FUNCTION_VENDOR_DEVICE: {
      auto& request = urb->UrbControlVendorClassRequest;
      bool in = (request.TransferFlags & USBD_TRANSFER_DIRECTION_IN) != 0;
      SetupPacket setup{static_cast<uint8_t>(in ? 0xC0 : 0x40), request.Request, request.Value,
                        request.Index, static_cast<uint16_t>(request.TransferBufferLength)};
      return Control(irp, urb, setup, static_cast<uint8_t*>(request.TransferBuffer), in,
                     &request.TransferBufferLength);
    }
    case URB_FUNCTION_SELECT_CONFIGURATION:
      return SelectConfiguration(irp, urb);
    case URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER:
      return QueueBulk(irp, urb);
    default:
      return Complete(irp, urb, USBD_STATUS_INVALID_URB_FUNCTION, false);
  }
}

NTSTATUS UsbPort::Control(PIRP irp, PURB urb, const SetupPacket& setup, uint8_t* buffer, bool in,
                          ULONG* transferLength) {
  if (setup.length != 0 && buffer == nullptr) {
    return Complete(irp, urb, USBD_STATUS_INVALID_PARAMETER, false);
  }
  std::vector<uint8_t> data(setup.length);
  if (!in && setup.length != 0) {
    std::memcpy(data.data(), buffer, setup.length);
  }
  ControlReply reply = usbDevice_.Control(setup, data.data());
  size_t length = std::min<size_t>(reply.length, setup.length);
  if (in && length != 0) {
    std::memcpy(buffer, data.data(), length);
  }
  *transferLength = static_cast<ULONG>(length);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(ControlRecord{setup,
                                 std::vector<uint8_t>(data.begin(), data.begin() + length),
                                 reply.status});
  }
  switch (reply.completion) {
    case Completion::Immediate:
      return Complete(irp, urb, reply.status, false);
    case Completion::Deferred: {
      IoMarkIrpPending(irp);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        deferred_.emplace_back(irp, reply.status);
      }
      changed_.notify_all();
      return STATUS_PENDING;
    }
    case Completion::Never:
      break;
  }
  IoMarkIrpPending(irp);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stuck_.push_back(irp);
  }
  IoSetCancelRoutine(irp, CancelStuck);
  if (Cancelled(irp) && IoSetCancelRoutine(irp, nullptr) != nullptr) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      std::erase(stuck_, irp);
    }
    *transferLength = 0;
    Complete(irp, urb, USBD_STATUS_CANCELED, true);
  }
  return STATUS_PENDING;
}

VOID NTAPI UsbPort::CancelStuck(PDEVICE_OBJECT device, PIRP irp) {
  IoReleaseCancelSpinLock(irp->CancelIrql);
  UsbPort* port = static_cast<UsbPort*>(device->DeviceExtension);
  {
    std::lock_guard<std::mutex> lock(port->mutex_);
    std::erase(port->stuck_, irp);
  }
  PURB urb = UrbOf(irp);
  if (urb->UrbHeader.Function == URB_FUNCTION_VENDOR_DEVICE) {
    urb->UrbControlVendorClassRequest.TransferBufferLength = 0;
  } else if (urb->UrbHeader.Function == URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE) {
    urb->UrbControlDescriptorRequest.TransferBufferLength = 0;
  }
  port->Complete(irp, urb, USBD_STATUS_CANCELED, true);
}

NTSTATUS UsbPort::SelectConfiguration(PIRP irp, PURB urb) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "a configuration selection");
  auto& select = urb->UrbSelectConfiguration;
  const USB_CONFIGURATION_DESCRIPTOR* configuration = select.ConfigurationDescriptor;
  if (configuration == nullptr ||
      select.Hdr.Length < sizeof(struct _URB_SELECT_CONFIGURATION)) {
    return Complete(irp, urb, USBD_STATUS_INVALID_PARAMETER, false);
  }
  std::vector<InterfaceLayout> interfaces = ParseInterfaces(configuration);
  if (interfaces.empty()) {
    return Complete(irp, urb, USBD_STATUS_INVALID_PARAMETER, false);
  }
  const InterfaceLayout& layout = interfaces.front();
  USBD_INTERFACE_INFORMATION& info = select.Interface;
  size_t pipes = layout.endpoints.size();
  size_t needed = sizeof(USBD_INTERFACE_INFORMATION) +
                  (pipes > 1 ? pipes - 1 : 0) * sizeof(USBD_PIPE_INFORMATION);
  if (info.Length < needed ||
      reinterpret_cast<uint8_t*>(&info) + info.Length > reinterpret_cast<uint8_t*>(urb) + select.Hdr.Length) {
    return Complete(irp, urb, USBD_STATUS_INVALID_PARAMETER, false);
  }
  SetupPacket setup{0x00, USB_REQUEST_SET_CONFIGURATION, configuration->bConfigurationValue, 0, 0};
  ControlReply reply = usbDevice_.Control(setup, nullptr);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(ControlRecord{setup, {}, reply.status});
  }
  if (reply.status != USBD_STATUS_SUCCESS) {
    return Complete(irp, urb, reply.status, false);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pipes_.clear();
    info.InterfaceNumber = layout.descriptor->bInterfaceNumber;
    info.AlternateSetting = layout.descriptor->bAlternateSetting;
    info.Class = layout.descriptor->bInterfaceClass;
    info.SubClass = layout.descriptor->bInterfaceSubClass;
    info.Protocol = layout.descriptor->bInterfaceProtocol;
    info.InterfaceHandle = &info;
    info.NumberOfPipes = static_cast<ULONG>(pipes);
    for (size_t i = 0; i < pipes; i++) {
      const USB_ENDPOINT_DESCRIPTOR* endpoint = layout.endpoints[i];
      USBD_PIPE_INFORMATION& pipe = info.Pipes[i];
      pipe.MaximumPacketSize = endpoint->wMaxPacketSize;
      pipe.EndpointAddress = endpoint->bEndpointAddress;
      pipe.Interval = endpoint->bInterval;
      pipe.PipeType = static_cast<USBD_PIPE_TYPE>(endpoint->bmAttributes & USB_ENDPOINT_TYPE_MASK);
      auto owned = std::make_unique<Pipe>();
      pipe.PipeHandle = owned.get();
      owned->info = pipe;
      pipes_.push_back(std::move(owned));
    }
    select.ConfigurationHandle = this;
    configured_ = true;
  }
  return Complete(irp, urb, USBD_STATUS_SUCCESS, false);
}

UsbPort::Pipe* UsbPort::FindPipe(USBD_PIPE_HANDLE handle) {
  for (const auto& pipe : pipes_) {
    if (pipe.get() == handle) {
      return pipe.get();
    }
  }
  return nullptr;
}

NTSTATUS UsbPort::QueueBulk(PIRP irp, PURB urb) {
  auto& transfer = urb->UrbBulkOrInterruptTransfer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Pipe* pipe = FindPipe(transfer.PipeHandle);
    bool valid = pipe != nullptr && (transfer.TransferFlags & USBD_TRANSFER_DIRECTION_IN) &&
                 (pipe->info.EndpointAddress & USB_ENDPOINT_DIRECTION_MASK) &&
                 (transfer.TransferBuffer != nullptr || transfer.TransferBufferLength == 0);
    if (valid) {
      IoMarkIrpPending(irp);
      pipe->queue.push_back(irp);
      IoSetCancelRoutine(irp, CancelBulk);
    }
    if (!valid) {
      transfer.TransferBufferLength = 0;
    }
    if (valid && !(Cancelled(irp) && IoSetCancelRoutine(irp, nullptr) != nullptr)) {
      kicked_ = true;
      changed_.notify_all();
      return STATUS_PENDING;
    }
    if (valid) {
      std::erase(pipe->queue, irp);
      transfer.TransferBufferLength = 0;
    }
  }
  if (Cancelled(irp)) {
    Complete(irp, urb, USBD_STATUS_CANCELED, true);
    return STATUS_PENDING;
  }
  return Complete(irp, urb, USBD_STATUS_INVALID_PARAMETER, false);
}

VOID NTAPI UsbPort::CancelBulk(PDEVICE_OBJECT device, PIRP irp) {
  IoReleaseCancelSpinLock(irp->CancelIrql);
  UsbPort* port = static_cast<UsbPort*>(device->DeviceExtension);
  {
    std::lock_guard<std::mutex> lock(port->mutex_);
    for (const auto& pipe : port->pipes_) {
      std::erase(pipe->queue, irp);
    }
  }
  PURB urb = UrbOf(irp);
  urb->UrbBulkOrInterruptTransfer.TransferBufferLength = 0;
  port->Complete(irp, urb, USBD_STATUS_CANCELED, true);
}

void UsbPort::RunController() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    bool idle = true;
    for (const auto& pipe : pipes_) {
      if (pipe->queue.empty() || stopping_) {
        continue;
      }
      PIRP irp = pipe->queue.front();
      // Whoever takes the cancel routine owns the completion.
      if (IoSetCancelRoutine(irp, nullptr) == nullptr) {
        continue;
      }
      pipe->queue.pop_front();
      uint8_t endpoint = pipe->info.EndpointAddress;
      lock.unlock();
      PURB urb = UrbOf(irp);
      auto& transfer = urb->UrbBulkOrInterruptTransfer;
      BulkReply reply = usbDevice_.BulkIn(endpoint, static_cast<uint8_t*>(transfer.TransferBuffer),
                                          transfer.TransferBufferLength);
      if (reply.kind == BulkReply::Kind::NoData) {
        lock.lock();
        pipe->queue.push_front(irp);
        IoSetCancelRoutine(irp, CancelBulk);
        if (!(Cancelled(irp) && IoSetCancelRoutine(irp, nullptr) != nullptr)) {
          continue;
        }
        pipe->queue.pop_front();
        lock.unlock();
        reply = BulkReply{BulkReply::Kind::Failed, 0, STATUS_CANCELLED, USBD_STATUS_CANCELED};
      }
      idle = false;
      if (reply.kind == BulkReply::Kind::Data) {
        transfer.TransferBufferLength =
            static_cast<ULONG>(std::min<size_t>(reply.length, transfer.TransferBufferLength));
        urb->UrbHeader.Status = USBD_STATUS_SUCCESS;
        irp->IoStatus.Status = STATUS_SUCCESS;
      } else {
        transfer.TransferBufferLength =
            static_cast<ULONG>(std::min<size_t>(reply.length, transfer.TransferBufferLength));
        urb->UrbHeader.Status = reply.usbdStatus;
        irp->IoStatus.Status = reply.status;
      }
      irp->IoStatus.Information = 0;
      {
        IrqlScope scope(DISPATCH_LEVEL);
        IoCompleteRequest(irp, IO_NO_INCREMENT);
      }
      lock.lock();
      bulkCompleted_++;
    }
    if (stopping_) {
      return;
    }
    if (idle) {
      changed_.wait_for(lock, NoDataPoll, [this] { return kicked_ || stopping_; });
      kicked_ = false;
    }
  }
}

void UsbPort::RunDeferred() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return !deferred_.empty() || stopping_; });
    if (deferred_.empty()) {
      return;
    }
    auto [irp, status] = deferred_.front();
    deferred_.pop_front();
    lock.unlock();
    Complete(irp, UrbOf(irp), status, true);
    lock.lock();
  }
}

}  // namespace emu::usb
