// FPGA image download: puts the microcontroller into download mode, polls
// until it reports ready (at most five times), then sends the image over the
// default control pipe in 64-byte vendor requests, straight from the image
// in non-paged data. PASSIVE_LEVEL inside SRB_INITIALIZE_DEVICE; no lock.
#include "usb_device.h"

namespace {

constexpr UCHAR DownloadModeRequest = 0xBC;
constexpr USHORT DownloadModeValue = 0x00AA;
constexpr UCHAR ImageChunkRequest = 0xBB;
constexpr ULONG StatusPolls = 5;
constexpr UCHAR DeviceReadyBit = 0x80;
constexpr ULONG PacketBufferSize = 65;
constexpr ULONG ChunkSize = 64;
}  // namespace

NTSTATUS Ezusb_ConfigureDownload(DeviceContext* Device) {
  VendorCommand* command = static_cast<VendorCommand*>(
      ExAllocatePoolWithTag(NonPagedPool, sizeof(VendorCommand), DriverPoolTag));
  DbgPrint("\n+Enter Ezusb_ConfigureDownload\n");
  if (command == nullptr) {
    return STATUS_UNSUCCESSFUL;
  }
  RtlZeroMemory(command, sizeof(VendorCommand));
  command->Request = DownloadModeRequest;
  command->Value = DownloadModeValue;
  command->Index = 0;
  command->Length = 1;
  command->Direction = 0;
  NTSTATUS status = Ezusb_SendVendorCommand(Device, command);
  ExFreePool(command);
  return status;
}

NTSTATUS DownloadFPGACode(DeviceContext* Device) {
  NTSTATUS status = STATUS_SUCCESS;
  PUCHAR packet;
  PURB urb;

  DbgPrint("\nEnter DownloadFPGACode on EP0\n");
  packet = static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPool, PacketBufferSize, DriverPoolTag));
  if (packet == nullptr) {
    DbgPrint("** DownloadFPGACode() unable to alloc Packet - Exiting\n");
    return STATUS_NO_MEMORY;
  }
  urb = static_cast<PURB>(ExAllocatePoolWithTag(NonPagedPool, VendorUrbSize, DriverPoolTag));
  if (urb == nullptr) {
    status = STATUS_NO_MEMORY;
    goto ExitPrint;
  }

  // A reply without data leaves the zeroed byte: not ready.
  for (ULONG poll = 0; poll < StatusPolls; poll++) {
    RtlZeroMemory(packet, ChunkSize);
    BuildVendorUrb(urb, DownloadModeRequest, 0, 0, TRUE, packet, 1);
    if (!NT_SUCCESS(Ezusb_SubmitUrbSync(Device, urb))) {
      status = STATUS_UNSUCCESSFUL;
      goto FreeBuffers;
    }
    if (packet[0] & DeviceReadyBit) {
      break;
    }
  }

  DbgPrint("\nStart to Download FPGA code ...\n");
  for (ULONG offset = 0; offset < FpgaImageSize; offset += ChunkSize) {
    ULONG length = FpgaImageSize - offset < ChunkSize ? FpgaImageSize - offset : ChunkSize;
    BuildVendorUrb(urb, ImageChunkRequest, 0, 0, FALSE, const_cast<PUCHAR>(FpgaImage + offset),
                   length);
    if (!NT_SUCCESS(Ezusb_SubmitUrbSync(Device, urb))) {
      status = STATUS_UNSUCCESSFUL;
      break;
    }
  }

ExitPrint:
  DbgPrint("-Exit DownloadFPGACode on EP0\n");
FreeBuffers:
  if (urb != nullptr) {
    ExFreePool(urb);
  }
  ExFreePool(packet);
  return status;
}
