// Program-guide collector: gathers the DVB event information tables (ETSI EN
// 300 468) of one service from PID 0x12 until every section of the tables it
// waits for has been seen, as result records of a 16-bit little-endian length
// followed by the section.
#pragma once

#include "../adapter/device_context.h"

constexpr UCHAR GuideModePresentFollowing = 0;
constexpr UCHAR GuideModeSchedule = 1;

// Idle collector, empty result, clear maps and assembly. PASSIVE_LEVEL, at start.
VOID ResetGuideCollector(DeviceContext* Device);

// Assembles sections from one valid packet of PID 0x12 and accepts those of
// the service; finishes the collection when it is complete or the result is
// full. DISPATCH_LEVEL, completion path; no lock.
VOID CollectGuidePacket(DeviceContext* Device, const UCHAR* Packet);

// Puts a complete section into the result when it is one the collection
// wants, and marks it in the maps. STATUS_SUCCESS when accepted.
NTSTATUS AcceptGuideSection(DeviceContext* Device, const UCHAR* Section);
BOOLEAN MatchesGuideFilter(DeviceContext* Device, const UCHAR* Section);
BOOLEAN IsGuideComplete(DeviceContext* Device);

// Signals the guide-complete event and ends the collection; the result
// stays for the read. DISPATCH_LEVEL; no lock.
VOID FinishGuideCollection(DeviceContext* Device);

// Forgets the section being assembled.
VOID ResetGuideAssembly(DeviceContext* Device);

// Property side, PASSIVE_LEVEL, no lock. Each first stops the completion
// path from entering the collector and waits until none is inside it.
VOID StartGuideCollection(DeviceContext* Device, USHORT ServiceId, UCHAR Mode);
VOID StopGuideCollection(DeviceContext* Device);
// Copies the result into Destination (room for GuideResultSize bytes),
// returns its length and ends the collection: each guide is read once.
ULONG ReadGuideResult(DeviceContext* Device, PUCHAR Destination);
