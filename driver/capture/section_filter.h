// One-shot section filter: gathers the next PSI section (ISO/IEC 13818-1) of
// an armed PID that has the table_id and section_number asked for, and keeps
// it for the application to read.
#pragma once

#include "../adapter/device_context.h"

constexpr ULONG SectionBufferSize = 4096;
// table_id that matches any table.
constexpr UCHAR AnyTableId = 0xFF;

// Every slot empty, no record, filter disarmed. PASSIVE_LEVEL, at start.
VOID ResetSectionFilter(DeviceContext* Device);

// Releases every section record, the current one included. PASSIVE_LEVEL,
// at stop, with no stream open.
VOID ReleaseSectionRecords(DeviceContext* Device);

// Address of the first payload byte of a packet, or none when it has no
// payload or its adaptation field leaves none. Any IRQL.
const UCHAR* GetPayloadStart(const UCHAR* Packet);

// Offers a packet of slot Slot's PID; TRUE when it completes the section
// being reported. DISPATCH_LEVEL; takes the slot's RecordLock for list work.
BOOLEAN FilterSectionPacket(DeviceContext* Device, const UCHAR* Packet, ULONG Slot);

// Arms slot 0: parameters first, the switch last; records of earlier armings
// are released (the current section stays readable). PASSIVE_LEVEL; takes
// slot 0's RecordLock to take the old records out.
VOID ArmSectionFilter(DeviceContext* Device, USHORT Pid, UCHAR TableId, UCHAR SectionNumber);

// Copies the current section into Data as its 32-bit length followed by its
// bytes, then releases the oldest record of slot 0 whether or not the section
// fitted. STATUS_NOT_FOUND when no section has started since the device
// started, STATUS_BUFFER_OVERFLOW when Data is too small (*Needed says how
// much it takes). PASSIVE_LEVEL; takes slot 0's RecordLock.
NTSTATUS ReadCaughtSection(DeviceContext* Device, PUCHAR Data, ULONG Length, ULONG* Needed);
