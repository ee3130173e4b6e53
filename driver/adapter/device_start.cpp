// Device start and stop. Start brings the DeviceContext to a known state,
// registers and enables the control interface, configures the USB device and
// loads the FPGA; a failure releases what was acquired, in reverse order,
// through one exit path. Completion registers the filter and writes the
// arrival value; stop releases everything and writes the departure value.
// PASSIVE_LEVEL on the device queue.
#include "device_start.h"

#include "../capture/guide_collector.h"
#include "../capture/read_pipeline.h"
#include "../capture/section_filter.h"
#include "../capture/ts_packet.h"
#include "../control/control_guids.h"
#include "../usb/usb_device.h"
#include "descriptors.h"
#include "class_calls.h"
#include "shared_value.h"

namespace {

constexpr ULONG UrbPoolTag = MakePoolTag('D', 'I', 'B', 'C');

const GUID CaptureCategory = {STATIC_KSCATEGORY_CAPTURE};
const GUID NullGuid = {STATIC_GUID_NULL};

// Next instance number to hand out; one counter for all adapters.
ULONG InstanceCounter;

// Stores the instance number in the adapter's filter registration medium.
VOID PublishInstance(DeviceContext* Device) {
  Device->FilterMedium.Set = NullGuid;
  Device->FilterMedium.Id = Device->InstanceNumber;
  Device->FilterMedium.Flags = 0;
}

// Writes the presence value under a key the companion application created;
// does nothing when the key does not exist. PASSIVE_LEVEL.
VOID SignalPresence(PCWSTR KeyPath) {
  UNICODE_STRING keyName;
  UNICODE_STRING valueName;
  OBJECT_ATTRIBUTES attributes;
  HANDLE key;
  ULONG data = PRESENCE_VALUE_DATA;

  RtlInitUnicodeString(&keyName, KeyPath);
  InitializeObjectAttributes(&attributes, &keyName, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
  if (!NT_SUCCESS(ZwOpenKey(&key, KEY_ALL_ACCESS, &attributes))) {
    return;
  }
  RtlInitUnicodeString(&valueName, L"" PRESENCE_VALUE_NAME);
  ZwSetValueKey(key, &valueName, 0, REG_DWORD, &data, sizeof(data));
  ZwClose(key);
}

// Brings the analyses and counters to their idle state.
VOID ResetCaptureState(DeviceContext* Device) {
  ResetSectionFilter(Device);
  WriteShared(Device->VideoProbePid, NullPid);
  Device->VideoTail.Waiting = 0;
  Device->Recording.CarryCount = 0;
  Device->CaptureStats.TotalBytes = 0;
  Device->CaptureStats.Reserved1 = 0;
  Device->CaptureStats.Reserved2 = 0;
  ResetGuideCollector(Device);
}

}  // namespace

VOID InitializeDevice(PHW_STREAM_REQUEST_BLOCK Srb) {
  PPORT_CONFIGURATION_INFORMATION config = Srb->CommandData.ConfigInfo;
  DeviceContext* device = static_cast<DeviceContext*>(config->HwDeviceExtension);
  UNICODE_STRING reference;
  BOOLEAN signalDeparture = FALSE;
  NTSTATUS status;

  if (config->NumberOfAccessRanges != 0) {
    Srb->Status = STATUS_NO_SUCH_DEVICE;
    return;
  }
  config->StreamDescriptorSize = StreamDescriptorBytes;
  device->PhysicalDevice = config->RealPhysicalDeviceObject;

  RtlInitUnicodeString(&reference, L"" CONTROL_INTERFACE_REFERENCE);
  status = IoRegisterDeviceInterface(device->PhysicalDevice, &GUID_DEVINTERFACE_CONTROL,
                                     &reference, &device->InterfaceName);
  if (!NT_SUCCESS(status)) {
    Srb->Status = STATUS_UNSUCCESSFUL;
    return;
  }
  IoSetDeviceInterfaceState(&device->InterfaceName, TRUE);

  KeInitializeEvent(&device->UsbRequestEvent, NotificationEvent, FALSE);
  device->UsbInfoRecord =
      static_cast<UsbInfo*>(ExAllocatePoolWithTag(NonPagedPool, sizeof(UsbInfo), DriverPoolTag));
  if (device->UsbInfoRecord == nullptr) {
    goto DisableInterface;
  }
  RtlZeroMemory(device->UsbInfoRecord, sizeof(UsbInfo));
  ExInitializeNPagedLookasideList(&device->UrbLookaside, nullptr, nullptr, 0,
                                  sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER), UrbPoolTag, 0);
  ResetCaptureState(device);

  if (Ezusb_SetupDevice(device) != STATUS_SUCCESS) {
    goto ReleaseUsb;
  }
  for (ULONG n = 0; n < MaxStreams; n++) {
    InitializeListHead(&device->ControlQueue[n]);
    InitializePendingReads(device, n);
  }
  device->InstanceNumber = __atomic_fetch_add(&InstanceCounter, 1, __ATOMIC_RELAXED);
  PublishInstance(device);
  device->DeviceReady = 1;

  status = Ezusb_ConfigureDownload(device);
  if (status == STATUS_SUCCESS) {
    status = DownloadFPGACode(device);
  }
  if (status == STATUS_SUCCESS) {
    return;
  }
  signalDeparture = TRUE;

ReleaseUsb:
  ReleaseUsbInfo(device);
  ExDeleteNPagedLookasideList(&device->UrbLookaside);
DisableInterface:
  IoSetDeviceInterfaceState(&device->InterfaceName, FALSE);
  RtlFreeUnicodeString(&device->InterfaceName);
  Srb->Status = STATUS_UNSUCCESSFUL;
  if (signalDeparture) {
    SignalPresence(L"" PRESENCE_DEPARTURE_KEY);
  }
}

VOID AnnounceDevice(PHW_STREAM_REQUEST_BLOCK Srb) {
  DeviceContext* device = static_cast<DeviceContext*>(Srb->HwDeviceExtension);
  BOOLEAN pinDirections[] = {TRUE};
  RegisterFilter(device->PhysicalDevice, &CaptureCategory, 1, pinDirections,
                 &device->FilterMedium);
  SignalPresence(L"" PRESENCE_ARRIVAL_KEY);
}

VOID UninitializeDevice(PHW_STREAM_REQUEST_BLOCK Srb) {
  DeviceContext* device = static_cast<DeviceContext*>(Srb->HwDeviceExtension);
  ReleaseSectionRecords(device);
  ReleaseUsbInfo(device);
  ExDeleteNPagedLookasideList(&device->UrbLookaside);
  IoSetDeviceInterfaceState(&device->InterfaceName, FALSE);
  RtlFreeUnicodeString(&device->InterfaceName);
  Srb->Status = STATUS_SUCCESS;
  SignalPresence(L"" PRESENCE_DEPARTURE_KEY);
}
