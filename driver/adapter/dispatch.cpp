// SRB dispatch and serialization. The adapter registers with
// TurnOffSynchronization, so the stream class driver calls these routines
// concurrently, at any IRQL up to DISPATCH_LEVEL. Device SRBs are handled one
// at a time on the device queue, the control SRBs of a stream one at a time on
// that stream's control queue; each is completed as soon as its handler
// returns. Read SRBs bypass this (capture/read_pipeline.cpp).
//
// Device SRB handlers wait for the device and use the registry, so they run
// at PASSIVE_LEVEL: an owner of the device queue that enters above
// PASSIVE_LEVEL hands its SRB, and with it the queue, to a system worker
// thread. Only one owner exists at a time, so one work item per device
// suffices.
#include "dispatch.h"

#include "../capture/read_pipeline.h"
#include "capture_stream.h"
#include "descriptors.h"
#include "device_start.h"
#include "request_queue.h"
#include "shared_value.h"

namespace {

// Runs the handler of one device SRB. PASSIVE_LEVEL; device queue owner.
VOID HandleDeviceSrb(PHW_STREAM_REQUEST_BLOCK Srb) {
  DeviceContext* device = static_cast<DeviceContext*>(Srb->HwDeviceExtension);
  switch (Srb->Command) {
    case SRB_GET_STREAM_INFO:
      FillStreamDescriptor(Srb);
      break;
    case SRB_OPEN_STREAM:
      OpenCaptureStream(Srb);
      break;
    case SRB_CLOSE_STREAM:
      CloseCaptureStream(Srb);
      break;
    case SRB_INITIALIZE_DEVICE:
      InitializeDevice(Srb);
      break;
    case SRB_CHANGE_POWER_STATE:
      device->PowerState = Srb->CommandData.DeviceState;
      break;
    case SRB_UNINITIALIZE_DEVICE:
      UninitializeDevice(Srb);
      break;
    case SRB_PAGING_OUT_DRIVER:
    case SRB_SURPRISE_REMOVAL:
      break;
    case SRB_GET_DATA_INTERSECTION:
      IntersectFormat(Srb);
      break;
    case SRB_INITIALIZATION_COMPLETE:
      AnnounceDevice(Srb);
      break;
    default:
      Srb->Status = STATUS_NOT_IMPLEMENTED;
      break;
  }
}

// Runs the handler of one control SRB of the capture stream.
// IRQL <= DISPATCH_LEVEL; control queue owner.
VOID HandleStreamSrb(PHW_STREAM_REQUEST_BLOCK Srb, ULONG StreamNumber) {
  switch (Srb->Command) {
    case SRB_GET_STREAM_STATE:
      GetCaptureState(Srb);
      break;
    case SRB_SET_STREAM_STATE:
      SetCaptureState(Srb);
      break;
    case SRB_GET_STREAM_PROPERTY:
      GetStreamProperty(Srb);
      break;
    case SRB_INDICATE_MASTER_CLOCK:
      StoreMasterClock(Srb);
      break;
    case SRB_PROPOSE_DATA_FORMAT:
    case SRB_SET_DATA_FORMAT:
      if (!StreamFormatSupported(Srb->CommandData.OpenFormat, StreamNumber)) {
        Srb->Status = STATUS_NO_MATCH;
      }
      break;
    default:
      Srb->Status = STATUS_NOT_IMPLEMENTED;
      break;
  }
}

// Handles device SRBs, starting with the given one, until the device queue
// is empty. PASSIVE_LEVEL; device queue owner; takes QueueLock in DequeueNext.
VOID RunDeviceQueue(DeviceContext* Device, PHW_STREAM_REQUEST_BLOCK Srb) {
  do {
    Srb->Status = STATUS_SUCCESS;
    HandleDeviceSrb(Srb);
    FinishDeviceSrb(Srb);
  } while (DequeueNext(&Srb, &Device->QueueLock, &Device->DeviceQueueBusy, &Device->DeviceQueue));
}

// Work item of an owner that entered above PASSIVE_LEVEL. PASSIVE_LEVEL,
// system worker thread; device queue owner.
VOID NTAPI RunDeferredDeviceQueue(PVOID Context) {
  DeviceContext* device = static_cast<DeviceContext*>(Context);
  RunDeviceQueue(device, device->DeferredDeviceSrb);
}

}  // namespace

VOID STREAMAPI HwReceivePacket(PHW_STREAM_REQUEST_BLOCK Srb) {
  DeviceContext* device = static_cast<DeviceContext*>(Srb->HwDeviceExtension);
  // The stream class driver sends SRB_INITIALIZE_DEVICE alone, before any
  // other SRB, so this needs no lock.
  if (!device->DeviceQueueReady) {
    InitializeListHead(&device->DeviceQueue);
    KeInitializeSpinLock(&device->QueueLock);
    device->DeviceQueueBusy = 0;
    ExInitializeWorkItem(&device->DeviceQueueWorker, RunDeferredDeviceQueue, device);
    device->DeviceQueueReady = 1;
  }
  if (EnqueueIfBusy(Srb, &device->QueueLock, &device->DeviceQueueBusy, &device->DeviceQueue)) {
    return;
  }
  if (KeGetCurrentIrql() > PASSIVE_LEVEL) {
    device->DeferredDeviceSrb = Srb;
    ExQueueWorkItem(&device->DeviceQueueWorker, DelayedWorkQueue);
    return;
  }
  RunDeviceQueue(device, Srb);
}

VOID STREAMAPI ReceiveControlPacket(PHW_STREAM_REQUEST_BLOCK Srb) {
  StreamContext* stream = static_cast<StreamContext*>(Srb->StreamObject->HwStreamExtension);
  DeviceContext* device = stream->Device;
  ULONG n = stream->StreamObject->StreamNumber;
  if (EnqueueIfBusy(Srb, &device->QueueLock, &device->ControlQueueBusy[n],
                    &device->ControlQueue[n])) {
    return;
  }
  do {
    Srb->Status = STATUS_SUCCESS;
    HandleStreamSrb(Srb, n);
    FinishStreamSrb(Srb);
  } while (DequeueNext(&Srb, &device->QueueLock, &device->ControlQueueBusy[n],
                       &device->ControlQueue[n]));
}

// Cancels a read of the open capture stream that waits for its transfer.
// Other SRBs (device SRBs, control SRBs, reads already completed) are left
// alone. The SRB's own stream is used, and only when it is the open stream 0,
// so no stream context that a concurrent close may release is touched.
// IRQL <= DISPATCH_LEVEL; takes the stream's PendingReadLock.
VOID STREAMAPI HwCancelPacket(PHW_STREAM_REQUEST_BLOCK Srb) {
  DeviceContext* device = static_cast<DeviceContext*>(Srb->HwDeviceExtension);
  StreamContext* stream = ReadShared(device->StreamContexts[0]);
  if (stream != nullptr && Srb->StreamObject != nullptr &&
      Srb->StreamObject->HwStreamExtension == stream) {
    CancelPendingRead(stream, Srb);
  }
}

// Restarts the SRB's countdown: no SRB is ever failed for taking long.
// Any IRQL; no lock.
VOID STREAMAPI HwRequestTimeoutHandler(PHW_STREAM_REQUEST_BLOCK Srb) {
  Srb->TimeoutCounter = Srb->TimeoutOriginal;
}

// Accepts every enabling and disabling of the private device events; the
// stream class driver keeps the entries. Any IRQL; no lock.
NTSTATUS STREAMAPI DeviceEventRoutine(PHW_EVENT_DESCRIPTOR EventDescriptor) {
  UNREFERENCED_PARAMETER(EventDescriptor);
  return STATUS_SUCCESS;
}

VOID FinishDeviceSrb(PHW_STREAM_REQUEST_BLOCK Srb) {
  StreamClassDeviceNotification(DeviceRequestComplete, Srb->HwDeviceExtension, Srb, nullptr,
                                nullptr, 0);
}

VOID FinishStreamSrb(PHW_STREAM_REQUEST_BLOCK Srb) {
  StreamClassStreamNotification(StreamRequestComplete, Srb->StreamObject, Srb);
}
