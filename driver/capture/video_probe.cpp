// Video sequence-header probe. Scans the payload of each packet of the armed
// PID for the sequence header code; the first code found wins. Its size and
// aspect bytes are read only from inside the packet: when the code ends a
// packet, the missing bytes are taken from the start of the next packet of
// the PID that continues the payload, and from nowhere else. Runs in the
// completion path at DISPATCH_LEVEL; arming and reading at PASSIVE_LEVEL,
// without a lock.
#include "video_probe.h"

#include "../adapter/shared_value.h"
#include "section_filter.h"
#include "ts_packet.h"

namespace {

constexpr UCHAR SequenceHeaderCode = 0xB3;
constexpr ULONG CodeBytes = 4;
// Bytes after the code up to aspect_ratio_information.
constexpr ULONG SizeBytes = 4;
// Last start position scanned: the four code bytes lie inside the packet.
constexpr ULONG LastCodeStart = TsPacketSize - CodeBytes;

VOID StoreVideoInfo(DeviceContext* Device, const UCHAR* Size) {
  WriteShared(Device->VideoInfo.Width, (Size[0] << 4) | (Size[1] >> 4));
  WriteShared(Device->VideoInfo.Height, ((Size[1] & 0x0F) << 8) | Size[2]);
  WriteShared(Device->VideoInfo.AspectRatio, Size[3] >> 4);
}

// Completes a header whose code ended the previous packet of the PID.
BOOLEAN CompleteTail(DeviceContext* Device, const UCHAR* Packet, const UCHAR* Payload) {
  VideoHeaderTail* tail = &Device->VideoTail;
  ULONG missing = SizeBytes - tail->Count;
  BOOLEAN continues = TsPid(Packet) == tail->Pid && !TsPayloadUnitStart(Packet) &&
                      TsContinuityCounter(Packet) == ((tail->Cc + 1) & 0x0F) &&
                      static_cast<ULONG>(Packet + TsPacketSize - Payload) >= missing;
  tail->Waiting = 0;
  if (!continues) {
    return FALSE;
  }
  RtlCopyMemory(tail->Bytes + tail->Count, Payload, missing);
  StoreVideoInfo(Device, tail->Bytes);
  return TRUE;
}

}  // namespace

BOOLEAN ProbeVideoPacket(DeviceContext* Device, const UCHAR* Packet) {
  if (TsPid(Packet) != ReadShared(Device->VideoProbePid)) {
    return FALSE;
  }
  const UCHAR* payload = GetPayloadStart(Packet);
  if (payload == nullptr) {
    return FALSE;
  }
  if (Device->VideoTail.Waiting && CompleteTail(Device, Packet, payload)) {
    return TRUE;
  }
  const UCHAR* end = Packet + TsPacketSize;
  for (const UCHAR* p = payload; p <= Packet + LastCodeStart; p++) {
    if (p[3] != SequenceHeaderCode || p[2] != 0x01 || p[1] != 0 || p[0] != 0) {
      continue;
    }
    const UCHAR* size = p + CodeBytes;
    if (size + SizeBytes <= end) {
      StoreVideoInfo(Device, size);
      return TRUE;
    }
    VideoHeaderTail* tail = &Device->VideoTail;
    tail->Waiting = 1;
    tail->Count = static_cast<UCHAR>(end - size);
    RtlCopyMemory(tail->Bytes, size, tail->Count);
    tail->Cc = TsContinuityCounter(Packet);
    tail->Pid = TsPid(Packet);
    return FALSE;
  }
  return FALSE;
}

VOID ArmVideoProbe(DeviceContext* Device, USHORT Pid) {
  PublishSwitch(Device->VideoProbePid, Pid);
}

VideoInfoRecord ReadVideoInfo(DeviceContext* Device) {
  VideoInfoRecord info;
  info.Width = ReadShared(Device->VideoInfo.Width);
  info.Height = ReadShared(Device->VideoInfo.Height);
  info.AspectRatio = ReadShared(Device->VideoInfo.AspectRatio);
  return info;
}
