// Driver entry: registers the adapter with the stream class driver.
// PASSIVE_LEVEL; no lock.
#include "device_context.h"
#include "dispatch.h"

namespace {
// Buffers handed to the capture pin are aligned to 4 bytes.
constexpr ULONG CaptureBufferAlignment = 3;
}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath) {
  HW_INITIALIZATION_DATA init;
  RtlZeroMemory(&init, sizeof(init));
  init.HwInitializationDataSize = sizeof(HW_INITIALIZATION_DATA);
  init.HwInterrupt = nullptr;
  init.HwReceivePacket = HwReceivePacket;
  init.HwCancelPacket = HwCancelPacket;
  init.HwRequestTimeoutHandler = HwRequestTimeoutHandler;
  init.DeviceExtensionSize = sizeof(DeviceContext);
  init.PerRequestExtensionSize = sizeof(RequestLink);
  init.PerStreamExtensionSize = sizeof(StreamContext);
  init.FilterInstanceExtensionSize = 0;
  init.BusMasterDMA = FALSE;
  init.Dma24BitAddresses = FALSE;
  init.BufferAlignment = CaptureBufferAlignment;
  init.TurnOffSynchronization = TRUE;
  init.DmaBufferSize = 0;
  init.NumNameExtensions = 0;
  init.NameExtensionArray = nullptr;
  return StreamClassRegisterAdapter(DriverObject, RegistryPath, &init);
}
