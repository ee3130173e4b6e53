// USB device access: synchronous URB submission and vendor requests, the
// descriptors and the bulk pipe, and the FPGA download. Every routine here
// waits for the device and runs at PASSIVE_LEVEL inside device SRB handling,
// which the device queue serializes; none takes a lock.
#pragma once

#include "../adapter/device_context.h"

// Descriptors and interface of the configured device; owned by the
// DeviceContext from start to stop, released with ReleaseUsbInfo.
struct UsbInfo {
  USBD_CONFIGURATION_HANDLE ConfigurationHandle;
  PUSB_CONFIGURATION_DESCRIPTOR ConfigDescriptor;  // as the device returned it
  PUSB_DEVICE_DESCRIPTOR DeviceDescriptor;         // 18 bytes
  PUSBD_INTERFACE_INFORMATION InterfaceInfo;       // selected interface, pipes filled in
};

// One vendor control request. Data is the transfer buffer itself, so the
// record lives in non-paged pool.
constexpr USHORT VendorDataSize = 64;
struct VendorCommand {
  UCHAR Request;    // bRequest
  USHORT Value;     // wValue
  USHORT Index;     // wIndex
  USHORT Length;    // wLength on entry; bytes transferred on return
  UCHAR Direction;  // nonzero: device-to-host
  UCHAR Data[VendorDataSize];
};

// Longest wait for a control transfer before it is cancelled and failed.
constexpr LONGLONG UsbRequestTimeout100ns = 5LL * 10 * 1000 * 1000;

// Size of the FPGA configuration image built into the driver.
constexpr ULONG FpgaImageSize = 55024;
extern const UCHAR FpgaImage[FpgaImageSize];

NTSTATUS Ezusb_SubmitUrbSync(DeviceContext* Device, PURB Urb);

// Size of a vendor-request URB.
constexpr USHORT VendorUrbSize = sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST);

// Zeroes a vendor-request URB and fills it for one request to the device on
// the default pipe. Any IRQL; no lock.
VOID BuildVendorUrb(PURB Urb, UCHAR Request, USHORT Value, USHORT Index, BOOLEAN In,
                    PVOID Buffer, ULONG Length);
NTSTATUS Ezusb_SendVendorCommand(DeviceContext* Device, VendorCommand* Command);

NTSTATUS Ezusb_SetupDevice(DeviceContext* Device);
NTSTATUS Ezusb_FetchConfigDescriptor(DeviceContext* Device);
NTSTATUS Ezusb_SelectConfigAndPipes(DeviceContext* Device,
                                    PUSB_CONFIGURATION_DESCRIPTOR ConfigDescriptor);
// Releases UsbInfo and the buffers it holds; safe on a partly filled record
// and when there is none.
VOID ReleaseUsbInfo(DeviceContext* Device);

NTSTATUS Ezusb_ConfigureDownload(DeviceContext* Device);
NTSTATUS DownloadFPGACode(DeviceContext* Device);
