// Bulk read pipeline: read SRBs become bulk transfers. Runs at
// <= DISPATCH_LEVEL; the completion routine at DISPATCH_LEVEL. The analyses
// of a filled buffer live in align.cpp.
//
// A pending read is linked through the IRP that carries its SRB
// (Tail.Overlay.ListEntry, with the SRB in DriverContext[0]). Each bulk IRP
// carries its URB in DriverContext[0] and a reference count in
// DriverContext[1]: one reference for the transfer, one for each canceller
// between finding the read in the list and returning from IoCancelIrp. The
// last reference frees the IRP and the URB, so a cancel never touches a
// freed IRP. Cancellers never write to the SRB: the completion routine sets
// its status and data length from the IRP, so nothing reaches an SRB after
// its completion.
#include "read_pipeline.h"

#include "../adapter/dispatch.h"
#include "../adapter/shared_value.h"
#include "align.h"
#include "ts_packet.h"

namespace {

constexpr ULONG BulkReadFlags = USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK;
constexpr USHORT BulkUrbSize = sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER);

StreamContext* StreamOfSrb(PHW_STREAM_REQUEST_BLOCK Srb) {
  return static_cast<StreamContext*>(Srb->StreamObject->HwStreamExtension);
}

RequestLink* LinkOf(PHW_STREAM_REQUEST_BLOCK Srb) {
  return static_cast<RequestLink*>(Srb->SRBExtension);
}

PHW_STREAM_REQUEST_BLOCK SrbOfEntry(PLIST_ENTRY Entry) {
  PIRP irp = CONTAINING_RECORD(Entry, IRP, Tail.Overlay.ListEntry);
  return static_cast<PHW_STREAM_REQUEST_BLOCK>(irp->Tail.Overlay.DriverContext[0]);
}

// The list entry of a pending read, or none. Called with PendingReadLock held.
PLIST_ENTRY FindPendingRead(PLIST_ENTRY Head, PHW_STREAM_REQUEST_BLOCK Srb) {
  for (PLIST_ENTRY entry = Head->Flink; entry != Head; entry = entry->Flink) {
    if (SrbOfEntry(entry) == Srb) {
      return entry;
    }
  }
  return nullptr;
}

LONG_PTR* TransferReferences(PIRP Irp) {
  return reinterpret_cast<LONG_PTR*>(&Irp->Tail.Overlay.DriverContext[1]);
}

VOID AcquireRead(StreamContext* Stream) { IncrementShared(Stream->ReadsInFlight); }

VOID ReleaseRead(StreamContext* Stream) {
  if (DecrementShared(Stream->ReadsInFlight) == 0) {
    KeSetEvent(&Stream->ReadsDrained, IO_NO_INCREMENT, FALSE);
  }
}

// Drops one reference of a bulk transfer; the last one frees the IRP and
// returns the URB. IRQL <= DISPATCH_LEVEL; no lock held.
VOID ReleaseTransfer(StreamContext* Stream, PIRP Irp) {
  if (__atomic_sub_fetch(TransferReferences(Irp), 1, __ATOMIC_ACQ_REL) != 0) {
    return;
  }
  PVOID urb = Irp->Tail.Overlay.DriverContext[0];
  IoFreeIrp(Irp);
  ExFreeToNPagedLookasideList(&Stream->Device->UrbLookaside, urb);
  ReleaseRead(Stream);
}

// Takes the bulk IRP of a read found in the pending list, with a reference
// that keeps it valid for IoCancelIrp. Called with PendingReadLock held.
PIRP ReferenceTransfer(PHW_STREAM_REQUEST_BLOCK Srb) {
  PIRP irp = LinkOf(Srb)->BulkIrp;
  __atomic_add_fetch(TransferReferences(irp), 1, __ATOMIC_ACQ_REL);
  return irp;
}

// Cancels a transfer taken out of the list. IRQL <= DISPATCH_LEVEL; no lock.
VOID CancelTransfer(StreamContext* Stream, PIRP Irp) {
  IoCancelIrp(Irp);
  ReleaseTransfer(Stream, Irp);
}

// TRUE when a read just submitted must be cancelled: the stream was stopped
// or is closing. Takes PendingReadLock, which orders the test with the
// closing stream's sweep of the list.
BOOLEAN ReadsShouldStop(StreamContext* Stream) {
  ULONG n = Stream->StreamObject->StreamNumber;
  DeviceContext* device = Stream->Device;
  KIRQL irql;
  KeAcquireSpinLock(&device->PendingReadLock[n], &irql);
  BOOLEAN stop = Stream->ReadsClosing || ReadShared(Stream->State) == KSSTATE_STOP;
  KeReleaseSpinLock(&device->PendingReadLock[n], irql);
  return stop;
}

// SRB status for the completion status of a bulk transfer.
NTSTATUS MapTransferStatus(NTSTATUS Status) {
  switch (Status) {
    case STATUS_SUCCESS:
    case STATUS_UNSUCCESSFUL:
    case STATUS_DEVICE_DATA_ERROR:
    case STATUS_DEVICE_NOT_CONNECTED:
    case STATUS_CANCELLED:
      return Status;
    default:
      return STATUS_UNSUCCESSFUL;
  }
}

}  // namespace

VOID InitializePendingReads(DeviceContext* Device, ULONG StreamNumber) {
  InitializeListHead(&Device->PendingReadList[StreamNumber]);
  KeInitializeSpinLock(&Device->PendingReadLock[StreamNumber]);
}

VOID STREAMAPI ReceiveDataPacket(PHW_STREAM_REQUEST_BLOCK Srb) {
  StreamContext* stream = StreamOfSrb(Srb);

  Srb->Status = STATUS_SUCCESS;
  if (Srb->Command != SRB_READ_DATA) {
    Srb->Status = STATUS_NOT_IMPLEMENTED;
    FinishStreamSrb(Srb);
    return;
  }
  if (ReadShared(stream->State) != KSSTATE_RUN) {
    FinishStreamSrb(Srb);
    return;
  }
  // Keeps the stream context for this routine, whatever the transfer does.
  AcquireRead(stream);
  if (!Ezusb_BuildBulkRead(Srb)) {
    Srb->Status = STATUS_INSUFFICIENT_RESOURCES;
    FinishStreamSrb(Srb);
    goto ReleaseStream;
  }
  QueuePendingRead(Srb);
  Ezusb_StartBulkRead(Srb);
  if (ReadsShouldStop(stream)) {
    CancelPendingRead(stream, Srb);
  }
ReleaseStream:
  ReleaseRead(stream);
}

VOID QueuePendingRead(PHW_STREAM_REQUEST_BLOCK Srb) {
  StreamContext* stream = StreamOfSrb(Srb);
  DeviceContext* device = stream->Device;
  ULONG n = stream->StreamObject->StreamNumber;
  KIRQL irql;
  KeAcquireSpinLock(&device->PendingReadLock[n], &irql);
  Srb->Irp->Tail.Overlay.DriverContext[0] = Srb;
  InsertTailList(&device->PendingReadList[n], &Srb->Irp->Tail.Overlay.ListEntry);
  KeReleaseSpinLock(&device->PendingReadLock[n], irql);
}

BOOLEAN UnlinkPendingRead(StreamContext* Stream, PHW_STREAM_REQUEST_BLOCK Srb) {
  DeviceContext* device = Stream->Device;
  ULONG n = Stream->StreamObject->StreamNumber;
  KIRQL irql;
  KeAcquireSpinLock(&device->PendingReadLock[n], &irql);
  PLIST_ENTRY entry = FindPendingRead(&device->PendingReadList[n], Srb);
  if (entry != nullptr) {
    RemoveEntryList(entry);
  }
  KeReleaseSpinLock(&device->PendingReadLock[n], irql);
  return entry != nullptr;
}

BOOLEAN CancelPendingRead(StreamContext* Stream, PHW_STREAM_REQUEST_BLOCK Srb) {
  DeviceContext* device = Stream->Device;
  ULONG n = Stream->StreamObject->StreamNumber;
  PIRP bulkIrp = nullptr;
  KIRQL irql;
  KeAcquireSpinLock(&device->PendingReadLock[n], &irql);
  PLIST_ENTRY entry = FindPendingRead(&device->PendingReadList[n], Srb);
  if (entry != nullptr) {
    RemoveEntryList(entry);
    bulkIrp = ReferenceTransfer(Srb);
  }
  KeReleaseSpinLock(&device->PendingReadLock[n], irql);
  if (bulkIrp == nullptr) {
    return FALSE;
  }
  CancelTransfer(Stream, bulkIrp);
  return TRUE;
}

VOID CancelAllPendingReads(StreamContext* Stream) {
  DeviceContext* device = Stream->Device;
  ULONG n = Stream->StreamObject->StreamNumber;
  for (;;) {
    PIRP bulkIrp = nullptr;
    KIRQL irql;
    KeAcquireSpinLock(&device->PendingReadLock[n], &irql);
    if (!IsListEmpty(&device->PendingReadList[n])) {
      bulkIrp = ReferenceTransfer(SrbOfEntry(RemoveTailList(&device->PendingReadList[n])));
    }
    KeReleaseSpinLock(&device->PendingReadLock[n], irql);
    if (bulkIrp == nullptr) {
      return;
    }
    CancelTransfer(Stream, bulkIrp);
  }
}

VOID OpenReadRundown(StreamContext* Stream) {
  Stream->ReadsInFlight = 1;
  Stream->ReadsClosing = 0;
  KeInitializeEvent(&Stream->ReadsDrained, NotificationEvent, FALSE);
}

VOID CloseReadRundown(StreamContext* Stream) {
  DeviceContext* device = Stream->Device;
  ULONG n = Stream->StreamObject->StreamNumber;
  KIRQL irql;
  KeAcquireSpinLock(&device->PendingReadLock[n], &irql);
  Stream->ReadsClosing = 1;
  KeReleaseSpinLock(&device->PendingReadLock[n], irql);
  CancelAllPendingReads(Stream);
  ReleaseRead(Stream);
  KeWaitForSingleObject(&Stream->ReadsDrained, Executive, KernelMode, FALSE, nullptr);
}

BOOLEAN Ezusb_BuildBulkRead(PHW_STREAM_REQUEST_BLOCK Srb) {
  StreamContext* stream = StreamOfSrb(Srb);
  DeviceContext* device = stream->Device;
  PKSSTREAM_HEADER header = Srb->CommandData.DataBufferArray;

  PURB urb = static_cast<PURB>(ExAllocateFromNPagedLookasideList(&device->UrbLookaside));
  if (urb == nullptr) {
    return FALSE;
  }
  PIRP irp = IoAllocateIrp(static_cast<CCHAR>(device->PhysicalDevice->StackSize + 1), FALSE);
  if (irp == nullptr) {
    ExFreeToNPagedLookasideList(&device->UrbLookaside, urb);
    return FALSE;
  }
  RtlZeroMemory(urb, BulkUrbSize);
  struct _URB_BULK_OR_INTERRUPT_TRANSFER* transfer = &urb->UrbBulkOrInterruptTransfer;
  transfer->Hdr.Length = BulkUrbSize;
  transfer->Hdr.Function = URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER;
  transfer->PipeHandle = device->BulkPipeHandle;
  transfer->TransferFlags = BulkReadFlags;
  // Never more than the buffer the stream header describes.
  transfer->TransferBufferLength =
      header->FrameExtent < CaptureSampleSize ? header->FrameExtent : CaptureSampleSize;
  transfer->TransferBuffer = header->Data;

  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
  next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
  next->Parameters.Others.Argument1 = urb;
  irp->Tail.Overlay.DriverContext[0] = urb;
  *TransferReferences(irp) = 1;
  LinkOf(Srb)->BulkIrp = irp;
  IoSetCompletionRoutine(irp, Ezusb_BulkReadComplete, Srb, TRUE, TRUE, TRUE);
  AcquireRead(stream);
  return TRUE;
}

NTSTATUS Ezusb_StartBulkRead(PHW_STREAM_REQUEST_BLOCK Srb) {
  DeviceContext* device = StreamOfSrb(Srb)->Device;
  return IoCallDriver(device->PhysicalDevice, LinkOf(Srb)->BulkIrp);
}

NTSTATUS NTAPI Ezusb_BulkReadComplete(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context) {
  UNREFERENCED_PARAMETER(DeviceObject);
  PHW_STREAM_REQUEST_BLOCK srb = static_cast<PHW_STREAM_REQUEST_BLOCK>(Context);
  StreamContext* stream = StreamOfSrb(srb);
  DeviceContext* device = stream->Device;
  PURB urb = static_cast<PURB>(Irp->Tail.Overlay.DriverContext[0]);
  PKSSTREAM_HEADER header = srb->CommandData.DataBufferArray;
  ULONG received = urb->UrbBulkOrInterruptTransfer.TransferBufferLength;

  __atomic_add_fetch(&device->CaptureStats.TotalBytes, received, __ATOMIC_RELAXED);
  srb->Status = MapTransferStatus(Irp->IoStatus.Status);
  header->DataUsed = srb->Status == STATUS_SUCCESS ? received : 0;
  // The analyses only read the buffer, and only when one of them is armed.
  if (srb->Status == STATUS_SUCCESS && AnalysisArmed(device)) {
    AnalyzeCapturedBuffer(device, static_cast<const UCHAR*>(header->Data), received);
  }
  UnlinkPendingRead(stream, srb);
  FinishStreamSrb(srb);
  ReleaseTransfer(stream, Irp);
  return STATUS_MORE_PROCESSING_REQUIRED;
}
