// Device and configuration descriptors, configuration selection and the
// bulk pipe. Runs once per start inside SRB_INITIALIZE_DEVICE at
// PASSIVE_LEVEL, before any stream exists; no lock.
//
// The configuration descriptor comes from the device and is checked before
// anything parses it: a reply shorter than its own wTotalLength, or whose
// descriptors do not chain up exactly to that length, fails the start.
#include "usb_device.h"

namespace {

constexpr USHORT DescriptorUrbSize = sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST);
constexpr ULONG FirstConfigRequestSize = 521;
constexpr ULONG MaximumPipeTransfer = 0x10000;

PURB AllocateDescriptorUrb() {
  return static_cast<PURB>(ExAllocatePoolWithTag(NonPagedPool, DescriptorUrbSize, DriverPoolTag));
}

// Builds a GET_DESCRIPTOR request for index 0 of the given type.
VOID BuildDescriptorRequest(PURB Urb, UCHAR DescriptorType, PVOID Buffer, ULONG Length) {
  RtlZeroMemory(Urb, DescriptorUrbSize);
  struct _URB_CONTROL_DESCRIPTOR_REQUEST* request = &Urb->UrbControlDescriptorRequest;
  request->Hdr.Length = DescriptorUrbSize;
  request->Hdr.Function = URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE;
  request->TransferBufferLength = Length;
  request->TransferBuffer = Buffer;
  request->Index = 0;
  request->DescriptorType = DescriptorType;
  request->LanguageId = 0;
}

USHORT TotalLengthOf(const UCHAR* Descriptor) {
  return static_cast<USHORT>(Descriptor[2] | (Descriptor[3] << 8));
}

// A configuration descriptor as received is usable when it holds its header,
// all of wTotalLength arrived, and its descriptors chain without a zero
// length up to exactly wTotalLength.
BOOLEAN ConfigurationIsWellFormed(const UCHAR* Descriptor, ULONG Received) {
  if (Received < sizeof(USB_CONFIGURATION_DESCRIPTOR) ||
      Descriptor[1] != USB_CONFIGURATION_DESCRIPTOR_TYPE) {
    return FALSE;
  }
  ULONG total = TotalLengthOf(Descriptor);
  if (total < sizeof(USB_CONFIGURATION_DESCRIPTOR) || total > Received) {
    return FALSE;
  }
  ULONG offset = 0;
  while (offset + 2 <= total) {
    ULONG length = Descriptor[offset];
    if (length < 2) {
      return FALSE;
    }
    offset += length;
  }
  return offset == total;
}

}  // namespace

NTSTATUS Ezusb_SetupDevice(DeviceContext* Device) {
  PURB urb = AllocateDescriptorUrb();
  if (urb == nullptr) {
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  PUCHAR buffer = static_cast<PUCHAR>(
      ExAllocatePoolWithTag(NonPagedPool, sizeof(USB_DEVICE_DESCRIPTOR), DriverPoolTag));
  if (buffer == nullptr) {
    ExFreePool(urb);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  BuildDescriptorRequest(urb, USB_DEVICE_DESCRIPTOR_TYPE, buffer, sizeof(USB_DEVICE_DESCRIPTOR));
  NTSTATUS status = Ezusb_SubmitUrbSync(Device, urb);
  if (NT_SUCCESS(status)) {
    Device->UsbInfoRecord->DeviceDescriptor = reinterpret_cast<PUSB_DEVICE_DESCRIPTOR>(buffer);
  } else {
    ExFreePool(buffer);
  }
  ExFreePool(urb);
  if (!NT_SUCCESS(status)) {
    return status;
  }
  return Ezusb_FetchConfigDescriptor(Device);
}

// Reads the configuration descriptor, first with 521 bytes, then again with
// the descriptor's own total length while that is larger than the last request.
NTSTATUS Ezusb_FetchConfigDescriptor(DeviceContext* Device) {
  UsbInfo* info = Device->UsbInfoRecord;
  ULONG requestSize = FirstConfigRequestSize;
  ULONG received = 0;
  NTSTATUS status;

  PURB urb = AllocateDescriptorUrb();
  if (urb == nullptr) {
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  for (;;) {
    PUCHAR buffer =
        static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPool, requestSize, DriverPoolTag));
    if (buffer == nullptr) {
      status = STATUS_INSUFFICIENT_RESOURCES;
      goto FreeUrb;
    }
    info->ConfigDescriptor = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(buffer);
    BuildDescriptorRequest(urb, USB_CONFIGURATION_DESCRIPTOR_TYPE, buffer, requestSize);
    status = Ezusb_SubmitUrbSync(Device, urb);
    received = urb->UrbControlDescriptorRequest.TransferBufferLength;
    if (received < sizeof(USB_CONFIGURATION_DESCRIPTOR) || TotalLengthOf(buffer) <= requestSize) {
      break;
    }
    requestSize = TotalLengthOf(buffer);
    ExFreePool(buffer);
    info->ConfigDescriptor = nullptr;
  }
  if (NT_SUCCESS(status) && !ConfigurationIsWellFormed(
                                reinterpret_cast<PUCHAR>(info->ConfigDescriptor), received)) {
    status = STATUS_DEVICE_DATA_ERROR;
  }

FreeUrb:
  ExFreePool(urb);
  if (!NT_SUCCESS(status)) {
    return status;
  }
  return Ezusb_SelectConfigAndPipes(Device, info->ConfigDescriptor);
}

NTSTATUS Ezusb_SelectConfigAndPipes(DeviceContext* Device,
                                    PUSB_CONFIGURATION_DESCRIPTOR ConfigDescriptor) {
  UsbInfo* info = Device->UsbInfoRecord;
  USHORT urbSize = 0;
  NTSTATUS status;

  PURB urb = USBD_CreateConfigurationRequest(ConfigDescriptor, &urbSize);
  if (urb == nullptr) {
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  if (USBD_ParseConfigurationDescriptorEx(ConfigDescriptor, ConfigDescriptor, -1, -1, -1, -1,
                                          -1) == nullptr) {
    status = STATUS_INSUFFICIENT_RESOURCES;
    goto FreeUrb;
  }

  {
    PUSBD_INTERFACE_INFORMATION selected = &urb->UrbSelectConfiguration.Interface;
    for (ULONG i = 0; i < selected->NumberOfPipes; i++) {
      selected->Pipes[i].MaximumTransferSize = MaximumPipeTransfer;
    }
    urb->UrbSelectConfiguration.Hdr.Function = URB_FUNCTION_SELECT_CONFIGURATION;
    urb->UrbSelectConfiguration.Hdr.Length = urbSize;
    urb->UrbSelectConfiguration.ConfigurationDescriptor = ConfigDescriptor;

    status = Ezusb_SubmitUrbSync(Device, urb);
    info->ConfigurationHandle = urb->UrbSelectConfiguration.ConfigurationHandle;
    if (!NT_SUCCESS(status)) {
      goto FreeUrb;
    }

    PUSBD_INTERFACE_INFORMATION copy = static_cast<PUSBD_INTERFACE_INFORMATION>(
        ExAllocatePoolWithTag(NonPagedPool, selected->Length, DriverPoolTag));
    if (copy == nullptr) {
      status = STATUS_INSUFFICIENT_RESOURCES;
      goto FreeUrb;
    }
    RtlCopyMemory(copy, selected, selected->Length);
    info->InterfaceInfo = copy;
    for (ULONG i = 0; i < copy->NumberOfPipes; i++) {
      if (copy->Pipes[i].PipeType == UsbdPipeTypeBulk) {
        Device->BulkPipeHandle = copy->Pipes[i].PipeHandle;
      }
    }
  }

FreeUrb:
  ExFreePool(urb);
  return status;
}

VOID ReleaseUsbInfo(DeviceContext* Device) {
  UsbInfo* info = Device->UsbInfoRecord;
  if (info == nullptr) {
    return;
  }
  if (info->DeviceDescriptor != nullptr) {
    ExFreePool(info->DeviceDescriptor);
  }
  if (info->ConfigDescriptor != nullptr) {
    ExFreePool(info->ConfigDescriptor);
  }
  if (info->InterfaceInfo != nullptr) {
    ExFreePool(info->InterfaceInfo);
  }
  ExFreePool(info);
  Device->UsbInfoRecord = nullptr;
}
