// Entry point and stream class callbacks of the adapter, and the only two
// routines that complete SRBs.
#pragma once

#include "device_context.h"

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath);

VOID STREAMAPI HwReceivePacket(PHW_STREAM_REQUEST_BLOCK Srb);
VOID STREAMAPI ReceiveControlPacket(PHW_STREAM_REQUEST_BLOCK Srb);
VOID STREAMAPI HwCancelPacket(PHW_STREAM_REQUEST_BLOCK Srb);
VOID STREAMAPI HwRequestTimeoutHandler(PHW_STREAM_REQUEST_BLOCK Srb);
NTSTATUS STREAMAPI DeviceEventRoutine(PHW_EVENT_DESCRIPTOR EventDescriptor);

// Completes a device SRB (DeviceRequestComplete). Any IRQL <= DISPATCH_LEVEL;
// called with no lock held.
VOID FinishDeviceSrb(PHW_STREAM_REQUEST_BLOCK Srb);

// Completes a stream SRB (StreamRequestComplete). Any IRQL <= DISPATCH_LEVEL;
// called with no lock held.
VOID FinishStreamSrb(PHW_STREAM_REQUEST_BLOCK Srb);
