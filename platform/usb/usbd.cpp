// The USBD helper routines: building the select-configuration URB for a
// configuration descriptor and finding interface descriptors in one. Both
// stay within the descriptor's wTotalLength whatever the device sent.
#include <cstring>

#include "kernel/kernel.h"
#include "usb_bus.h"

extern "C" {
#include <usbdlib.h>
}

namespace {
constexpr ULONG UsbdPoolTag = 0x44425355;  // "USBD"
}

extern "C" {

PURB NTAPI USBD_CreateConfigurationRequest(PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor,
                                           PUSHORT Siz) {
  std::vector<emu::usb::InterfaceLayout> interfaces =
      emu::usb::ParseInterfaces(ConfigurationDescriptor);
  size_t pipes = interfaces.empty() ? 0 : interfaces.front().endpoints.size();
  size_t interfaceBytes = sizeof(USBD_INTERFACE_INFORMATION) +
                          (pipes > 1 ? pipes - 1 : 0) * sizeof(USBD_PIPE_INFORMATION);
  size_t size = offsetof(struct _URB_SELECT_CONFIGURATION, Interface) + interfaceBytes;
  PURB urb = static_cast<PURB>(ExAllocatePoolWithTag(NonPagedPool, size, UsbdPoolTag));
  if (urb == nullptr) {
    return nullptr;
  }
  std::memset(urb, 0, size);
  urb->UrbSelectConfiguration.Hdr.Length = static_cast<USHORT>(size);
  urb->UrbSelectConfiguration.Hdr.Function = URB_FUNCTION_SELECT_CONFIGURATION;
  urb->UrbSelectConfiguration.ConfigurationDescriptor = ConfigurationDescriptor;
  USBD_INTERFACE_INFORMATION& info = urb->UrbSelectConfiguration.Interface;
  info.Length = static_cast<USHORT>(interfaceBytes);
  info.NumberOfPipes = static_cast<ULONG>(pipes);
  if (!interfaces.empty()) {
    info.InterfaceNumber = interfaces.front().descriptor->bInterfaceNumber;
    info.AlternateSetting = interfaces.front().descriptor->bAlternateSetting;
  }
  for (size_t i = 0; i < pipes; i++) {
    info.Pipes[i].MaximumTransferSize = USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE;
  }
  *Siz = static_cast<USHORT>(size);
  return urb;
}

PUSB_INTERFACE_DESCRIPTOR NTAPI USBD_ParseConfigurationDescriptorEx(
    PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor, PVOID StartPosition,
    LONG InterfaceNumber, LONG AlternateSetting, LONG InterfaceClass, LONG InterfaceSubClass,
    LONG InterfaceProtocol) {
  auto matches = [](LONG wanted, UCHAR value) { return wanted == -1 || wanted == value; };
  for (const auto& layout : emu::usb::ParseInterfaces(ConfigurationDescriptor)) {
    const USB_INTERFACE_DESCRIPTOR* d = layout.descriptor;
    if (reinterpret_cast<const uint8_t*>(d) < static_cast<const uint8_t*>(StartPosition)) {
      continue;
    }
    if (matches(InterfaceNumber, d->bInterfaceNumber) &&
        matches(AlternateSetting, d->bAlternateSetting) &&
        matches(InterfaceClass, d->bInterfaceClass) &&
        matches(InterfaceSubClass, d->bInterfaceSubClass) &&
        matches(InterfaceProtocol, d->bInterfaceProtocol)) {
      return const_cast<PUSB_INTERFACE_DESCRIPTOR>(d);
    }
  }
  return nullptr;
}

}  // extern "C"
