// Synchronous URB submission on the default control pipe and vendor
// requests built from a VendorCommand. PASSIVE_LEVEL; no lock.
//
// The wait for the bus driver is bounded: a device that never completes a
// control transfer gets its IRP cancelled and the request fails, instead of
// holding the device queue forever. To cancel safely the IRP must outlive the
// wait, so the completion routine keeps it (STATUS_MORE_PROCESSING_REQUIRED)
// and the submitter hands it back to the I/O manager afterwards.
#include "usb_device.h"

namespace {

constexpr NTSTATUS NoIrpStatus = STATUS_INSUFFICIENT_RESOURCES;

// Completion routine of a synchronous request: wakes the submitter and keeps
// the IRP. IRQL <= DISPATCH_LEVEL; no lock.
NTSTATUS NTAPI SyncRequestComplete(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context) {
  UNREFERENCED_PARAMETER(DeviceObject);
  UNREFERENCED_PARAMETER(Irp);
  KeSetEvent(static_cast<PKEVENT>(Context), IO_NO_INCREMENT, FALSE);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

}  // namespace

NTSTATUS Ezusb_SubmitUrbSync(DeviceContext* Device, PURB Urb) {
  IO_STATUS_BLOCK ioStatus = {};
  LARGE_INTEGER timeout;
  NTSTATUS status;

  KeClearEvent(&Device->UsbRequestEvent);
  PIRP irp = IoBuildDeviceIoControlRequest(IOCTL_INTERNAL_USB_SUBMIT_URB, Device->PhysicalDevice,
                                           nullptr, 0, nullptr, 0, TRUE, &Device->UsbRequestEvent,
                                           &ioStatus);
  if (irp == nullptr) {
    return NoIrpStatus;
  }
  IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = Urb;
  IoSetCompletionRoutine(irp, SyncRequestComplete, &Device->UsbRequestEvent, TRUE, TRUE, TRUE);

  IoCallDriver(Device->PhysicalDevice, irp);
  timeout.QuadPart = -UsbRequestTimeout100ns;
  if (KeWaitForSingleObject(&Device->UsbRequestEvent, Executive, KernelMode, FALSE, &timeout) ==
      STATUS_TIMEOUT) {
    IoCancelIrp(irp);
    KeWaitForSingleObject(&Device->UsbRequestEvent, Executive, KernelMode, FALSE, nullptr);
  }
  status = irp->IoStatus.Status;
  if (status == STATUS_CANCELLED) {
    status = STATUS_IO_TIMEOUT;
  }
  // Hand the IRP back: the I/O manager finishes it and releases it.
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

VOID BuildVendorUrb(PURB Urb, UCHAR Request, USHORT Value, USHORT Index, BOOLEAN In,
                    PVOID Buffer, ULONG Length) {
  RtlZeroMemory(Urb, VendorUrbSize);
  struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST* request = &Urb->UrbControlVendorClassRequest;
  request->Hdr.Length = VendorUrbSize;
  request->Hdr.Function = URB_FUNCTION_VENDOR_DEVICE;
  request->TransferFlags = In ? USBD_TRANSFER_DIRECTION_IN : 0;
  request->TransferBufferLength = Length;
  request->TransferBuffer = Buffer;
  request->Request = Request;
  request->Value = Value;
  request->Index = Index;
}

NTSTATUS Ezusb_SendVendorCommand(DeviceContext* Device, VendorCommand* Command) {
  PURB urb = static_cast<PURB>(ExAllocatePoolWithTag(NonPagedPool, VendorUrbSize, DriverPoolTag));
  if (urb == nullptr) {
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  BuildVendorUrb(urb, Command->Request, Command->Value, Command->Index, Command->Direction != 0,
                 Command->Data, Command->Length);
  NTSTATUS status = Ezusb_SubmitUrbSync(Device, urb);
  Command->Length = static_cast<USHORT>(urb->UrbControlVendorClassRequest.TransferBufferLength);
  ExFreePool(urb);
  return status;
}
