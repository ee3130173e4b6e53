// Packet alignment and dispatch: finds the packet grid of a completed
// buffer, joins the packet split across buffers, and offers each valid packet
// to the armed analyses. Runs in the bulk completion routine at
// DISPATCH_LEVEL; completions of one device are never analysed at once.
#pragma once

#include "../adapter/device_context.h"
#include "ts_packet.h"

// Bytes of three packets: the least a buffer needs to show its grid.
constexpr ULONG GridProbeBytes = 3 * TsPacketSize;

// TRUE when at least one analysis is armed. Any IRQL; no lock.
BOOLEAN AnalysisArmed(DeviceContext* Device);

// Analyses a buffer the bus filled; FALSE when it was skipped (too short, or
// no packet grid found). DISPATCH_LEVEL; no lock of its own.
BOOLEAN AnalyzeCapturedBuffer(DeviceContext* Device, const UCHAR* Buffer, ULONG Count);

// Offers the carried packet and then each aligned packet to the analyses.
VOID DispatchPackets(DeviceContext* Device, const UCHAR* Aligned, ULONG Length);

// Sync byte present, no transport error, not the null PID.
BOOLEAN IsPacketValid(const UCHAR* Packet);

// First slot whose PID is the packet's. Any IRQL; no lock.
BOOLEAN FindSectionSlot(DeviceContext* Device, const UCHAR* Packet, ULONG* Slot);
