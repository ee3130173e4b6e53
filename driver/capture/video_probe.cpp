// Video sequence-header probe. Scans the payload of each packet of the armed
// PID for the sequence header code; only a header whose size and aspect bytes
// lie inside the packet is decoded. Runs in the completion path at
// DISPATCH_LEVEL; arming and reading at PASSIVE_LEVEL, without a lock.
#include "video_probe.h"

#include "../adapter/shared_value.h"
#include "section_filter.h"
#include "ts_packet.h"

namespace {

constexpr UCHAR SequenceHeaderCode = 0xB3;
// Last start position scanned: the four code bytes lie inside the packet.
constexpr ULONG LastCodeStart = TsPacketSize - 4;
// Bytes of the header from the code to aspect_ratio_information.
constexpr ULONG HeaderBytesNeeded = 8;

}  // namespace

BOOLEAN ProbeVideoPacket(DeviceContext* Device, const UCHAR* Packet) {
  if (TsPid(Packet) != ReadShared(Device->VideoProbePid)) {
    return FALSE;
  }
  const UCHAR* payload = GetPayloadStart(Packet);
  if (payload == nullptr) {
    return FALSE;
  }
  const UCHAR* last = Packet + LastCodeStart;
  for (const UCHAR* p = payload; p <= last; p++) {
    if (p[3] != SequenceHeaderCode || p[2] != 0x01 || p[1] != 0 || p[0] != 0) {
      continue;
    }
    // The first code wins; one too close to the end cannot be decoded from
    // this packet alone.
    if (p + HeaderBytesNeeded > Packet + TsPacketSize) {
      return FALSE;
    }
    WriteShared(Device->VideoInfo.Width, (p[4] << 4) | (p[5] >> 4));
    WriteShared(Device->VideoInfo.Height, ((p[5] & 0x0F) << 8) | p[6]);
    WriteShared(Device->VideoInfo.AspectRatio, p[7] >> 4);
    return TRUE;
  }
  return FALSE;
}

VOID ArmVideoProbe(DeviceContext* Device, USHORT Pid) { PublishSwitch(Device->VideoProbePid, Pid); }

VideoInfoRecord ReadVideoInfo(DeviceContext* Device) {
  VideoInfoRecord info;
  info.Width = ReadShared(Device->VideoInfo.Width);
  info.Height = ReadShared(Device->VideoInfo.Height);
  info.AspectRatio = ReadShared(Device->VideoInfo.AspectRatio);
  return info;
}
