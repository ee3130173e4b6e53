// Read request pipeline: every read SRB of the running capture stream becomes
// one bulk IN transfer straight into the SRB's buffer, completed by
// Ezusb_BulkReadComplete at DISPATCH_LEVEL.
#pragma once

#include "../adapter/device_context.h"

// Sets up the pending-read list and lock of one stream number. PASSIVE_LEVEL.
VOID InitializePendingReads(DeviceContext* Device, ULONG StreamNumber);

// The stream's data routine. IRQL <= DISPATCH_LEVEL; takes PendingReadLock.
VOID STREAMAPI ReceiveDataPacket(PHW_STREAM_REQUEST_BLOCK Srb);

// Links a read SRB at the tail of its stream's pending list, and takes it out
// again. IRQL <= DISPATCH_LEVEL; take PendingReadLock for the list operation.
VOID QueuePendingRead(PHW_STREAM_REQUEST_BLOCK Srb);
BOOLEAN UnlinkPendingRead(StreamContext* Stream, PHW_STREAM_REQUEST_BLOCK Srb);

// Cancels the transfer of one pending read (TRUE), or does nothing when the
// SRB is not a pending read of the stream (FALSE). The SRB completes through
// Ezusb_BulkReadComplete. IRQL <= DISPATCH_LEVEL; takes PendingReadLock for
// the search only.
BOOLEAN CancelPendingRead(StreamContext* Stream, PHW_STREAM_REQUEST_BLOCK Srb);

// Cancels every pending read of the stream, most recent first.
// IRQL <= DISPATCH_LEVEL; takes PendingReadLock for each removal.
VOID CancelAllPendingReads(StreamContext* Stream);

// Read rundown of an open stream: opened with the stream; closing cancels
// every pending read and returns once each read has completed and released
// its IRP and URB. Close runs at PASSIVE_LEVEL; no lock held.
VOID OpenReadRundown(StreamContext* Stream);
VOID CloseReadRundown(StreamContext* Stream);

// Builds the bulk transfer of a read SRB: URB from the lookaside list and an
// IRP, nothing sent. FALSE when either cannot be had. IRQL <= DISPATCH_LEVEL.
BOOLEAN Ezusb_BuildBulkRead(PHW_STREAM_REQUEST_BLOCK Srb);

// Sends the built transfer to the device; from then on the completion
// routine owns the SRB. IRQL <= DISPATCH_LEVEL; no lock.
NTSTATUS Ezusb_StartBulkRead(PHW_STREAM_REQUEST_BLOCK Srb);

// Completion routine of a bulk read. DISPATCH_LEVEL; takes PendingReadLock
// for the unlink.
NTSTATUS NTAPI Ezusb_BulkReadComplete(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context);
