// Section filter. Runs in the bulk completion routine at DISPATCH_LEVEL;
// arming and reading at PASSIVE_LEVEL. Each slot's RecordLock guards its
// record list and every append to a record; slot 0's lock also guards the
// current-record reference, so a record is released only when it is both out
// of its list and no longer current, and a read never sees it released.
//
// Sections may be packed back to back: when the section at a packet's
// pointer_field fails the table_id or section_number test and ends inside the
// packet, the next section that starts in the same packet is tried.
#include "section_filter.h"

#include "../adapter/shared_value.h"
#include "ts_packet.h"

namespace {

// A section's bytes up to section_number: what the filter tests.
constexpr ULONG SectionTestBytes = 7;
constexpr ULONG SectionNumberOffset = 6;
// Bytes counted in a read beyond the section: its 32-bit length and three
// more that are not written.
constexpr ULONG ReadOverhead = 7;

VOID FreeRecord(SectionRecord* Record) {
  ExFreePool(Record->Buffer);
  ExFreePool(Record);
}

ULONG Gathered(const SectionRecord* Record) {
  return static_cast<ULONG>(Record->WritePosition - Record->Buffer);
}

BOOLEAN Complete(const SectionRecord* Record) {
  return Gathered(Record) >= Record->SectionLength + SectionHeaderSize;
}

// Appends bytes to a record unless they would bring it to the buffer's end.
// Called with the slot's RecordLock held.
VOID Append(SectionRecord* Record, const UCHAR* Bytes, ULONG Count) {
  if (Gathered(Record) + Count < SectionBufferSize) {
    RtlCopyMemory(Record->WritePosition, Bytes, Count);
    Record->WritePosition += Count;
  }
}

SectionRecord* LastRecord(SectionSlot* Slot) {
  return IsListEmpty(&Slot->RecordList)
             ? nullptr
             : CONTAINING_RECORD(Slot->RecordList.Blink, SectionRecord, Link);
}

VOID Unlink(SectionRecord* Record) {
  RemoveEntryList(&Record->Link);
  Record->Link.Flink = nullptr;
}

// The first section at or after Section, within the packet, that passes the
// slot's filters; none when a section runs past the packet, stuffing begins,
// or a section's header does not fit.
const UCHAR* FindMatchingSection(SectionSlot* Slot, const UCHAR* Section, const UCHAR* End) {
  UCHAR tableId = ReadShared(Slot->TableIdFilter);
  UCHAR sectionNumber = ReadShared(Slot->SectionNumberFilter);
  while (static_cast<ULONG>(End - Section) >= SectionTestBytes && Section[0] != StuffingByte) {
    if (Section[SectionNumberOffset] == sectionNumber &&
        (tableId == AnyTableId || Section[0] == tableId)) {
      return Section;
    }
    ULONG length = SectionLengthOf(Section) + SectionHeaderSize;
    if (length >= static_cast<ULONG>(End - Section)) {
      break;
    }
    Section += length;
  }
  return nullptr;
}

// Starts a record for a section found in a packet. DISPATCH_LEVEL; takes the
// slot's RecordLock for the insertion.
SectionRecord* StartRecord(DeviceContext* Device, SectionSlot* Slot, const UCHAR* Section,
                           const UCHAR* End) {
  SectionRecord* record = static_cast<SectionRecord*>(
      ExAllocatePoolWithTag(NonPagedPool, sizeof(SectionRecord), DriverPoolTag));
  if (record == nullptr) {
    return nullptr;
  }
  record->Buffer =
      static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPool, SectionBufferSize, DriverPoolTag));
  if (record->Buffer == nullptr) {
    ExFreePool(record);
    return nullptr;
  }
  ULONG count = static_cast<ULONG>(End - Section);
  RtlCopyMemory(record->Buffer, Section, count);
  record->WritePosition = record->Buffer + count;
  record->SectionLength = SectionLengthOf(Section);

  SectionRecord* retired = nullptr;
  KIRQL irql;
  KeAcquireSpinLock(&Slot->RecordLock, &irql);
  InsertTailList(&Slot->RecordList, &record->Link);
  if (Device->CurrentRecord != nullptr && Device->CurrentRecord->Link.Flink == nullptr) {
    retired = Device->CurrentRecord;
  }
  Device->CurrentRecord = record;
  Device->CurrentSection = record->Buffer;
  KeReleaseSpinLock(&Slot->RecordLock, irql);
  if (retired != nullptr) {
    FreeRecord(retired);
  }
  return record;
}

}  // namespace

VOID ResetSectionFilter(DeviceContext* Device) {
  for (ULONG s = 0; s < SectionSlotCount; s++) {
    SectionSlot* slot = &Device->SectionSlots[s];
    WriteShared(slot->Pid, NullPid);
    InitializeListHead(&slot->RecordList);
    KeInitializeSpinLock(&slot->RecordLock);
  }
  Device->CurrentSection = nullptr;
  Device->CurrentRecord = nullptr;
  WriteShared(Device->SectionFilterArmed, 0);
}

VOID ReleaseSectionRecords(DeviceContext* Device) {
  for (ULONG s = 0; s < SectionSlotCount; s++) {
    PLIST_ENTRY head = &Device->SectionSlots[s].RecordList;
    while (!IsListEmpty(head)) {
      SectionRecord* record = CONTAINING_RECORD(head->Flink, SectionRecord, Link);
      Unlink(record);
      if (record != Device->CurrentRecord) {
        FreeRecord(record);
      }
    }
  }
  if (Device->CurrentRecord != nullptr) {
    FreeRecord(Device->CurrentRecord);
  }
  Device->CurrentRecord = nullptr;
  Device->CurrentSection = nullptr;
}

const UCHAR* GetPayloadStart(const UCHAR* Packet) {
  switch (TsAdaptationFieldControl(Packet)) {
    case 0x1:
      return Packet + TsHeaderSize;
    case 0x3: {
      ULONG start = TsHeaderSize + 1 + Packet[TsHeaderSize];
      return start < TsPacketSize ? Packet + start : nullptr;
    }
    default:
      return nullptr;
  }
}

BOOLEAN FilterSectionPacket(DeviceContext* Device, const UCHAR* Packet, ULONG Slot) {
  SectionSlot* slot = &Device->SectionSlots[Slot];
  const UCHAR* end = Packet + TsPacketSize;
  const UCHAR* payload = GetPayloadStart(Packet);
  KIRQL irql;
  if (payload == nullptr) {
    return FALSE;
  }

  if (!TsPayloadUnitStart(Packet)) {
    BOOLEAN complete = FALSE;
    KeAcquireSpinLock(&slot->RecordLock, &irql);
    SectionRecord* last = LastRecord(slot);
    if (last != nullptr) {
      Append(last, payload, static_cast<ULONG>(end - payload));
      complete = Complete(last);
    }
    KeReleaseSpinLock(&slot->RecordLock, irql);
    return complete;
  }

  // A pointer_field that points past the packet: nothing of it is used.
  UCHAR pointer = payload[0];
  const UCHAR* sectionStart = payload + 1 + pointer;
  if (sectionStart > end) {
    return FALSE;
  }
  BOOLEAN report = TRUE;
  if (pointer != 0) {
    KeAcquireSpinLock(&slot->RecordLock, &irql);
    SectionRecord* last = LastRecord(slot);
    if (last == nullptr) {
      report = FALSE;
    } else {
      Append(last, payload + 1, pointer);
    }
    KeReleaseSpinLock(&slot->RecordLock, irql);
  }

  const UCHAR* section = FindMatchingSection(slot, sectionStart, end);
  if (section == nullptr) {
    return FALSE;
  }
  SectionRecord* record = StartRecord(Device, slot, section, end);
  return record != nullptr && report && Complete(record);
}

VOID ArmSectionFilter(DeviceContext* Device, USHORT Pid, UCHAR TableId, UCHAR SectionNumber) {
  SectionSlot* slot = &Device->SectionSlots[0];
  LIST_ENTRY stale;
  InitializeListHead(&stale);

  WriteShared(slot->Pid, Pid);
  WriteShared(slot->TableIdFilter, TableId);
  WriteShared(slot->SectionNumberFilter, SectionNumber);

  // Records of earlier armings would otherwise be continued, and reported,
  // by this arming's packets.
  KIRQL irql;
  KeAcquireSpinLock(&slot->RecordLock, &irql);
  while (!IsListEmpty(&slot->RecordList)) {
    SectionRecord* record = CONTAINING_RECORD(slot->RecordList.Flink, SectionRecord, Link);
    Unlink(record);
    if (record != Device->CurrentRecord) {
      InsertTailList(&stale, &record->Link);
    }
  }
  KeReleaseSpinLock(&slot->RecordLock, irql);
  while (!IsListEmpty(&stale)) {
    FreeRecord(CONTAINING_RECORD(RemoveHeadList(&stale), SectionRecord, Link));
  }

  PublishSwitch(Device->SectionFilterArmed, 1);
}

NTSTATUS ReadCaughtSection(DeviceContext* Device, PUCHAR Data, ULONG Length, ULONG* Needed) {
  SectionSlot* slot = &Device->SectionSlots[0];
  SectionRecord* released = nullptr;
  NTSTATUS status = STATUS_NOT_FOUND;
  KIRQL irql;

  KeAcquireSpinLock(&slot->RecordLock, &irql);
  SectionRecord* current = Device->CurrentRecord;
  if (current != nullptr) {
    // A section longer than the buffer never completes; what is kept of it
    // is at most the buffer, and bytes not gathered read as zero.
    ULONG sectionBytes = SectionLengthOf(Device->CurrentSection) + SectionHeaderSize;
    if (sectionBytes > SectionBufferSize) {
      sectionBytes = SectionBufferSize;
    }
    *Needed = sectionBytes + ReadOverhead;
    if (Length < *Needed) {
      status = STATUS_BUFFER_OVERFLOW;
    } else {
      ULONG gathered = Gathered(current) < sectionBytes ? Gathered(current) : sectionBytes;
      RtlCopyMemory(Data, &sectionBytes, sizeof(ULONG));
      RtlCopyMemory(Data + sizeof(ULONG), Device->CurrentSection, gathered);
      RtlZeroMemory(Data + sizeof(ULONG) + gathered, sectionBytes - gathered);
      status = STATUS_SUCCESS;
    }
  }
  if (!IsListEmpty(&slot->RecordList)) {
    SectionRecord* oldest = CONTAINING_RECORD(slot->RecordList.Flink, SectionRecord, Link);
    Unlink(oldest);
    if (oldest != current) {
      released = oldest;
    }
  }
  KeReleaseSpinLock(&slot->RecordLock, irql);
  if (released != nullptr) {
    FreeRecord(released);
  }
  return status;
}
