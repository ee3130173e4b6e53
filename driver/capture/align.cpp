// Packet alignment and dispatch. One pass over each buffer: the grid search
// looks at no more than one packet's worth of offsets, and each packet costs
// a validity test and a few switch tests before any analysis runs. The
// buffer is only read; the pin gets it unchanged.
#include "align.h"

#include "../adapter/shared_value.h"
#include "../control/control_guids.h"
#include "../control/device_events.h"
#include "guide_collector.h"
#include "section_filter.h"
#include "video_probe.h"

namespace {

constexpr USHORT GuidePid = 0x12;

// Offers a packet to the program-guide collector when it runs.
VOID OfferToGuide(DeviceContext* Device, const UCHAR* Packet) {
  if (TsPid(Packet) == GuidePid) {
    CollectGuidePacket(Device, Packet);
  }
}

}  // namespace

BOOLEAN AnalysisArmed(DeviceContext* Device) {
  return ReadSwitch(Device->SectionFilterArmed) || ReadSwitch(Device->Guide.GuideActive) ||
         ReadShared(Device->VideoProbePid) != NullPid;
}

BOOLEAN IsPacketValid(const UCHAR* Packet) {
  return Packet[0] == TsSyncByte && !TsTransportError(Packet) && TsPid(Packet) != NullPid;
}

BOOLEAN FindSectionSlot(DeviceContext* Device, const UCHAR* Packet, ULONG* Slot) {
  USHORT pid = TsPid(Packet);
  for (ULONG s = 0; s < SectionSlotCount; s++) {
    if (ReadShared(Device->SectionSlots[s].Pid) == pid) {
      *Slot = s;
      return TRUE;
    }
  }
  return FALSE;
}

BOOLEAN AnalyzeCapturedBuffer(DeviceContext* Device, const UCHAR* Buffer, ULONG Count) {
  if (Count < GridProbeBytes) {
    return FALSE;
  }
  ULONG grid = 0;
  while (grid < TsPacketSize &&
         !(Buffer[grid] == TsSyncByte && Buffer[grid + TsPacketSize] == TsSyncByte &&
           Buffer[grid + 2 * TsPacketSize] == TsSyncByte)) {
    grid++;
  }
  if (grid == TsPacketSize) {
    return FALSE;
  }
  RecordState* recording = &Device->Recording;
  if (recording->CarryCount + grid <= CarryBufferSize) {
    RtlCopyMemory(recording->CarryBuffer + recording->CarryCount, Buffer, grid);
    recording->CarryCount += grid;
  }
  DispatchPackets(Device, Buffer + grid, Count - grid);
  return TRUE;
}

VOID DispatchPackets(DeviceContext* Device, const UCHAR* Aligned, ULONG Length) {
  RecordState* recording = &Device->Recording;

  // A packet joined from the end of the last buffer and the start of this one
  // goes to the analyses that follow a PID's packets in order.
  for (ULONG offset = 0; recording->CarryCount >= offset + TsPacketSize; offset += TsPacketSize) {
    const UCHAR* packet = recording->CarryBuffer + offset;
    if (IsPacketValid(packet) && ReadSwitch(Device->Guide.GuideActive)) {
      OfferToGuide(Device, packet);
    }
  }
  recording->CarryCount = 0;

  const UCHAR* end = Aligned + Length / TsPacketSize * TsPacketSize;
  for (const UCHAR* packet = Aligned; packet < end; packet += TsPacketSize) {
    if (!IsPacketValid(packet)) {
      continue;
    }
    if (ReadShared(Device->VideoProbePid) != NullPid && ProbeVideoPacket(Device, packet)) {
      SignalPrivateEvent(Device, &EVENTSETID_VIDEO_INFO, EVENT_VIDEO_INFO);
      PublishSwitch(Device->VideoProbePid, NullPid);
    }
    ULONG slot;
    if (ReadSwitch(Device->SectionFilterArmed) && FindSectionSlot(Device, packet, &slot) &&
        FilterSectionPacket(Device, packet, slot)) {
      SignalPrivateEvent(Device, &EVENTSETID_SECTION_READY, EVENT_SECTION_READY);
      WriteShared(Device->SectionSlots[slot].Pid, NullPid);
      PublishSwitch(Device->SectionFilterArmed, 0);
    }
    if (ReadSwitch(Device->Guide.GuideActive)) {
      OfferToGuide(Device, packet);
    }
  }

  ULONG remainder = Length % TsPacketSize;
  if (remainder != 0) {
    RtlCopyMemory(recording->CarryBuffer, end, remainder);
    recording->CarryCount = remainder;
  }
}
