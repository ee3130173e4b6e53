// Video sequence-header probe: finds the picture size and aspect ratio of an
// MPEG-2 video PID (ISO/IEC 13818-2 sequence_header_code 00 00 01 B3).
#pragma once

#include "../adapter/device_context.h"

// TRUE when the packet carried a sequence header and VideoInfo now holds it.
// DISPATCH_LEVEL, completion path; no lock.
BOOLEAN ProbeVideoPacket(DeviceContext* Device, const UCHAR* Packet);

// Arms the probe for a PID (0x1FFF leaves it idle). PASSIVE_LEVEL; no lock.
VOID ArmVideoProbe(DeviceContext* Device, USHORT Pid);

// The values of the last sequence header found (zero before the first).
// Any IRQL; no lock.
VideoInfoRecord ReadVideoInfo(DeviceContext* Device);
