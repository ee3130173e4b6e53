// Capture stream control. Open, close and the data intersection arrive on
// the device queue; state, properties, formats and the master clock on the
// stream's control queue. Every handler only writes the SRB's Status and
// result fields; the dispatch completes the SRB. The read path
// (capture/read_pipeline.cpp) looks at State without a lock.
#include "capture_stream.h"

#include "../capture/read_pipeline.h"
#include "descriptors.h"
#include "shared_value.h"

namespace {

constexpr ULONG FramingFrames = 512;

const GUID MajorFormatStream = {STATIC_KSDATAFORMAT_TYPE_STREAM};

// Returns the allocator framing of the pin. IRQL <= DISPATCH_LEVEL.
VOID GetAllocatorFraming(PHW_STREAM_REQUEST_BLOCK Srb) {
  PSTREAM_PROPERTY_DESCRIPTOR property = Srb->CommandData.PropertyInfo;
  if (property->Property->Id != KSPROPERTY_CONNECTION_ALLOCATORFRAMING) {
    return;
  }
  PKSALLOCATOR_FRAMING framing = static_cast<PKSALLOCATOR_FRAMING>(property->PropertyInfo);
  framing->RequirementsFlags = KSALLOCATOR_REQUIREMENTF_PREFERENCES_ONLY |
                               KSALLOCATOR_REQUIREMENTF_SYSTEM_MEMORY |
                               KSALLOCATOR_REQUIREMENTF_INPLACE_MODIFIER;
  framing->PoolType = NonPagedPool;
  framing->Frames = FramingFrames;
  framing->FrameSize = CaptureDataRange.SampleSize;
  framing->FileAlignment = FILE_LONG_ALIGNMENT;
  framing->Reserved = 0;
  Srb->ActualBytesTransferred = sizeof(KSALLOCATOR_FRAMING);
}

// Returns the dropped-frame counters, which the driver does not keep.
// IRQL <= DISPATCH_LEVEL.
VOID GetDroppedFrames(PHW_STREAM_REQUEST_BLOCK Srb) {
  PSTREAM_PROPERTY_DESCRIPTOR property = Srb->CommandData.PropertyInfo;
  if (property->Property->Id != KSPROPERTY_DROPPEDFRAMES_CURRENT) {
    return;
  }
  PKSPROPERTY_DROPPEDFRAMES_CURRENT_S dropped =
      static_cast<PKSPROPERTY_DROPPEDFRAMES_CURRENT_S>(property->PropertyInfo);
  dropped->PictureNumber = 0;
  dropped->DropCount = 0;
  dropped->AverageFrameSize = 0;
  Srb->ActualBytesTransferred = sizeof(KSPROPERTY_DROPPEDFRAMES_CURRENT_S);
}

StreamContext* StreamOf(PHW_STREAM_REQUEST_BLOCK Srb) {
  return static_cast<StreamContext*>(Srb->StreamObject->HwStreamExtension);
}

}  // namespace

BOOLEAN FormatMatches(const KSDATAFORMAT* First, const KSDATAFORMAT* Second, BOOLEAN CompareSize) {
  return RtlEqualMemory(&First->MajorFormat, &Second->MajorFormat, sizeof(GUID)) &&
         RtlEqualMemory(&First->SubFormat, &Second->SubFormat, sizeof(GUID)) &&
         RtlEqualMemory(&First->Specifier, &Second->Specifier, sizeof(GUID)) &&
         (!CompareSize || First->FormatSize == Second->FormatSize);
}

BOOLEAN StreamFormatSupported(const KSDATAFORMAT* Format, ULONG StreamNumber) {
  if (StreamNumber >= CaptureStreamCount) {
    return FALSE;
  }
  for (ULONG i = 0; i < CaptureFormatCount; i++) {
    if (FormatMatches(Format, CaptureFormats[i], FALSE)) {
      return TRUE;
    }
  }
  return FALSE;
}

BOOLEAN CheckMajorFormat(PHW_STREAM_REQUEST_BLOCK Srb) {
  if (!RtlEqualMemory(&Srb->CommandData.OpenFormat->MajorFormat, &MajorFormatStream,
                      sizeof(GUID))) {
    Srb->Status = STATUS_INVALID_PARAMETER;
    return FALSE;
  }
  return TRUE;
}

VOID OpenCaptureStream(PHW_STREAM_REQUEST_BLOCK Srb) {
  DeviceContext* device = static_cast<DeviceContext*>(Srb->HwDeviceExtension);
  PHW_STREAM_OBJECT object = Srb->StreamObject;
  StreamContext* stream = static_cast<StreamContext*>(object->HwStreamExtension);
  ULONG n = object->StreamNumber;

  RtlZeroMemory(stream, sizeof(StreamContext));
  if (n >= CaptureStreamCount || device->StreamInstances[n] >= CaptureStreamInstances) {
    Srb->Status = STATUS_INVALID_PARAMETER;
    return;
  }
  if (!CheckMajorFormat(Srb)) {
    return;
  }
  stream->Device = device;
  stream->StreamObject = object;
  stream->State = KSSTATE_STOP;
  stream->MasterClock = nullptr;
  OpenReadRundown(stream);

  object->ReceiveDataPacket = CaptureStreamTemplate.ReceiveDataPacket;
  object->ReceiveControlPacket = CaptureStreamTemplate.ReceiveControlPacket;
  object->Dma = CaptureStreamTemplate.Dma;
  object->Pio = CaptureStreamTemplate.Pio;
  object->StreamHeaderMediaSpecific = CaptureStreamTemplate.StreamHeaderMediaSpecific;
  object->StreamHeaderWorkspace = CaptureStreamTemplate.StreamHeaderWorkspace;
  object->HwClockObject = CaptureStreamTemplate.HwClockObject;
  device->StreamInstances[n]++;
  // Published last: HwCancelPacket looks at it without a lock.
  WriteShared(device->StreamContexts[n], stream);
}

// Cancels the stream's pending reads and waits until each has completed, so
// that no completion reaches a stream context the stream class driver is
// about to release. PASSIVE_LEVEL; device queue owner.
VOID CloseCaptureStream(PHW_STREAM_REQUEST_BLOCK Srb) {
  DeviceContext* device = static_cast<DeviceContext*>(Srb->HwDeviceExtension);
  StreamContext* stream = StreamOf(Srb);
  ULONG n = Srb->StreamObject->StreamNumber;

  CloseReadRundown(stream);
  device->StreamInstances[n]--;
  WriteShared(device->StreamContexts[n], static_cast<StreamContext*>(nullptr));
  stream->MasterClock = nullptr;
  WriteShared(stream->State, KSSTATE_STOP);
}

VOID IntersectFormat(PHW_STREAM_REQUEST_BLOCK Srb) {
  PSTREAM_DATA_INTERSECT_INFO info = Srb->CommandData.IntersectInfo;
  if (info->StreamNumber >= CaptureStreamCount) {
    Srb->Status = STATUS_NOT_IMPLEMENTED;
    return;
  }
  BOOLEAN sizeOnly = info->SizeOfDataFormatBuffer == sizeof(ULONG);
  for (ULONG i = 0; i < CaptureFormatCount; i++) {
    const KSDATAFORMAT* format = CaptureFormats[i];
    if (!FormatMatches(info->DataRange, format, TRUE)) {
      continue;
    }
    if (sizeOnly) {
      *static_cast<PULONG>(info->DataFormatBuffer) = format->FormatSize;
      Srb->ActualBytesTransferred = sizeof(ULONG);
    } else if (info->SizeOfDataFormatBuffer < format->FormatSize) {
      Srb->Status = STATUS_BUFFER_TOO_SMALL;
      return;
    } else {
      RtlCopyMemory(info->DataFormatBuffer, format, format->FormatSize);
      Srb->ActualBytesTransferred = format->FormatSize;
    }
  }
}

VOID GetCaptureState(PHW_STREAM_REQUEST_BLOCK Srb) {
  KSSTATE state = ReadShared(StreamOf(Srb)->State);
  Srb->CommandData.StreamState = state;
  Srb->ActualBytesTransferred = sizeof(KSSTATE);
  // A paused capture source reports that it produces no data.
  if (state == KSSTATE_PAUSE) {
    Srb->Status = STATUS_NO_DATA_DETECTED;
  }
}

VOID SetCaptureState(PHW_STREAM_REQUEST_BLOCK Srb) {
  WriteShared(StreamOf(Srb)->State, Srb->CommandData.StreamState);
}

VOID GetStreamProperty(PHW_STREAM_REQUEST_BLOCK Srb) {
  const GUID* set = &Srb->CommandData.PropertyInfo->Property->Set;
  if (RtlEqualMemory(set, &ConnectionSetId, sizeof(GUID))) {
    GetAllocatorFraming(Srb);
  } else if (RtlEqualMemory(set, &DroppedFramesSetId, sizeof(GUID))) {
    GetDroppedFrames(Srb);
  } else {
    Srb->Status = STATUS_NOT_IMPLEMENTED;
  }
}

VOID StoreMasterClock(PHW_STREAM_REQUEST_BLOCK Srb) {
  StreamOf(Srb)->MasterClock = Srb->CommandData.MasterClockHandle;
}
