// Program-guide collector. Runs in the bulk completion routine at
// DISPATCH_LEVEL; start, stop and read at PASSIVE_LEVEL. There is no lock:
// the completion path enters the collector only while GuideActive is set and
// counts itself in GuideInUse; the property side turns GuideActive off and
// waits for GuideInUse to reach 0 before it touches the collector, then
// publishes its changes before turning GuideActive on again.
//
// Broadcasters pack EIT sections back to back (ISO/IEC 13818-1): a section
// may end inside a packet that starts the next one, and one packet may start
// several. In a packet that starts a section, the bytes before the pointed
// section complete the section under way when the continuity counter follows
// on; then every section that starts in the packet is examined in turn until
// one runs past the packet or stuffing begins.
#include "guide_collector.h"

#include "../adapter/shared_value.h"
#include "../control/control_guids.h"
#include "../control/device_events.h"
#include "section_filter.h"
#include "ts_packet.h"

namespace {

constexpr UCHAR PresentFollowingTable = 0x4E;
constexpr UCHAR FirstScheduleTable = 0x50;
constexpr UCHAR LastScheduleTable = 0x5F;
// A section start is examined only with its header up to last_table_id in
// the packet.
constexpr ULONG GuideHeaderBytes = 14;
constexpr ULONG ResultLengthBytes = 2;
constexpr ULONG SegmentSize = 8;
constexpr LONGLONG QuiescePoll100ns = -1000;  // 0.1 ms

USHORT ServiceIdOf(const UCHAR* Section) {
  return static_cast<USHORT>((Section[3] << 8) | Section[4]);
}

// Appends an accepted section to the result, or ends the collection when it
// no longer fits.
VOID StoreSection(DeviceContext* Device, const UCHAR* Section, ULONG Length) {
  GuideCollector* guide = &Device->Guide;
  if (AcceptGuideSection(Device, Section) != STATUS_SUCCESS) {
    return;
  }
  if (GuideResultSize - guide->ResultLength < Length + ResultLengthBytes) {
    FinishGuideCollection(Device);
    return;
  }
  PUCHAR record = guide->ResultBuffer + guide->ResultLength;
  record[0] = static_cast<UCHAR>(Length);
  record[1] = static_cast<UCHAR>(Length >> 8);
  RtlCopyMemory(record + ResultLengthBytes, Section, Length);
  guide->ResultLength += Length + ResultLengthBytes;
}

// Completes the section under way when enough of it has been gathered.
VOID CompleteAssembly(DeviceContext* Device) {
  GuideCollector* guide = &Device->Guide;
  ULONG length = guide->ExpectedLength + SectionHeaderSize;
  if (guide->CollectedLength >= length) {
    guide->InSection = 0;
    StoreSection(Device, guide->AssemblyBuffer, length);
  }
}

VOID AppendToAssembly(GuideCollector* Guide, const UCHAR* Bytes, ULONG Count) {
  RtlCopyMemory(Guide->AssemblyBuffer + Guide->CollectedLength, Bytes, Count);
  Guide->CollectedLength = static_cast<USHORT>(Guide->CollectedLength + Count);
}

BOOLEAN CollectionRuns(GuideCollector* Guide) {
  return ReadShared(Guide->GuideActive) && !Guide->GuideComplete;
}

// Examines the sections that start in a packet, from Section on.
VOID CollectStartingSections(DeviceContext* Device, const UCHAR* Section, const UCHAR* End) {
  GuideCollector* guide = &Device->Guide;
  while (CollectionRuns(guide) && static_cast<ULONG>(End - Section) >= GuideHeaderBytes &&
         Section[0] != StuffingByte) {
    ULONG length = SectionLengthOf(Section) + SectionHeaderSize;
    ULONG available = static_cast<ULONG>(End - Section);
    if (ServiceIdOf(Section) == guide->ServiceId) {
      guide->CollectedLength = 0;
      AppendToAssembly(guide, Section, available < length ? available : length);
      guide->ExpectedLength = SectionLengthOf(Section);
      guide->InSection = 1;
      CompleteAssembly(Device);
    }
    if (length >= available) {
      return;
    }
    Section += length;
  }
}

// Waits until no completion is inside the collector, after GuideActive was
// turned off. PASSIVE_LEVEL.
VOID QuiesceCollector(DeviceContext* Device) {
  GuideCollector* guide = &Device->Guide;
  __atomic_store_n(&guide->GuideActive, 0, __ATOMIC_SEQ_CST);
  LARGE_INTEGER poll;
  poll.QuadPart = QuiescePoll100ns;
  while (__atomic_load_n(&guide->GuideInUse, __ATOMIC_SEQ_CST) != 0) {
    KeDelayExecutionThread(KernelMode, FALSE, &poll);
  }
}

// Ends the collection and clears the maps; the result stays.
VOID ResetCollection(GuideCollector* Guide) {
  Guide->TableCountSet = 0;
  Guide->GuideComplete = 0;
  for (ULONG t = 0; t < GuideTableCount; t++) {
    Guide->TableMaps[t].Started = 0;
    RtlZeroMemory(Guide->TableMaps[t].Received, sizeof(Guide->TableMaps[t].Received));
  }
}

}  // namespace

VOID ResetGuideCollector(DeviceContext* Device) {
  GuideCollector* guide = &Device->Guide;
  WriteShared(guide->GuideActive, 0);
  guide->GuideInUse = 0;
  guide->ResultLength = 0;
  guide->TableCount = 0;
  ResetCollection(guide);
  ResetGuideAssembly(Device);
}

VOID ResetGuideAssembly(DeviceContext* Device) {
  Device->Guide.InSection = 0;
  Device->Guide.ExpectedLength = 0;
  Device->Guide.CollectedLength = 0;
}

VOID CollectGuidePacket(DeviceContext* Device, const UCHAR* Packet) {
  GuideCollector* guide = &Device->Guide;
  __atomic_add_fetch(&guide->GuideInUse, 1, __ATOMIC_SEQ_CST);
  if (!__atomic_load_n(&guide->GuideActive, __ATOMIC_SEQ_CST)) {
    goto Leave;
  }
  {
    const UCHAR* end = Packet + TsPacketSize;
    const UCHAR* payload = GetPayloadStart(Packet);
    UCHAR cc = TsContinuityCounter(Packet);
    BOOLEAN followsOn = cc == ((guide->PreviousCc + 1) & 0x0F);
    if (payload == nullptr) {
      goto Leave;
    }
    if (!TsPayloadUnitStart(Packet)) {
      if (!guide->InSection) {
        goto Leave;
      }
      if (!followsOn) {
        guide->InSection = 0;
        goto Leave;
      }
      AppendToAssembly(guide, payload, static_cast<ULONG>(end - payload));
      CompleteAssembly(Device);
    } else {
      const UCHAR* tail = payload + 1;
      const UCHAR* sectionStart = tail + payload[0];
      if (sectionStart > end) {
        goto Leave;
      }
      if (guide->InSection && followsOn) {
        AppendToAssembly(guide, tail, static_cast<ULONG>(sectionStart - tail));
        CompleteAssembly(Device);
      }
      // A section still under way cannot go on past a section start.
      guide->InSection = 0;
      CollectStartingSections(Device, sectionStart, end);
    }
    guide->PreviousCc = cc;
    if (guide->GuideComplete) {
      FinishGuideCollection(Device);
    }
  }
Leave:
  __atomic_sub_fetch(&guide->GuideInUse, 1, __ATOMIC_SEQ_CST);
}

BOOLEAN MatchesGuideFilter(DeviceContext* Device, const UCHAR* Section) {
  GuideCollector* guide = &Device->Guide;
  UCHAR tableId = Section[0];
  if (ServiceIdOf(Section) != guide->ServiceId) {
    return FALSE;
  }
  return (guide->GuideMode == GuideModePresentFollowing && tableId == PresentFollowingTable) ||
         (guide->GuideMode == GuideModeSchedule && tableId >= FirstScheduleTable &&
          tableId <= LastScheduleTable);
}

NTSTATUS AcceptGuideSection(DeviceContext* Device, const UCHAR* Section) {
  GuideCollector* guide = &Device->Guide;
  if (!MatchesGuideFilter(Device, Section)) {
    return STATUS_UNSUCCESSFUL;
  }
  UCHAR tableId = Section[0];
  UCHAR sectionNumber = Section[6];
  UCHAR lastSectionNumber = Section[7];
  UCHAR segmentLast = Section[12];
  UCHAR lastTableId = Section[13];
  if (!guide->TableCountSet) {
    guide->TableCount =
        tableId == PresentFollowingTable ? 1 : static_cast<UCHAR>((lastTableId & 0x0F) + 1);
    guide->TableCountSet = 1;
  }
  GuideTableMap* map =
      &guide->TableMaps[guide->GuideMode == GuideModePresentFollowing ? 0 : tableId & 0x0F];
  if (!map->Started) {
    RtlZeroMemory(map->Received, sizeof(map->Received));
    map->Started = 1;
    map->SectionCount = static_cast<USHORT>(lastSectionNumber + 1);
  }
  if (sectionNumber < map->SectionCount && !map->Received[sectionNumber]) {
    map->Received[sectionNumber] = 1;
    // Section numbers after a segment's last one are never sent.
    ULONG nextSegment = (segmentLast + SegmentSize) & 0xF8;
    for (ULONG s = segmentLast + 1; s < nextSegment; s++) {
      map->Received[s] = 1;
    }
  }
  if (IsGuideComplete(Device)) {
    guide->GuideComplete = 1;
  }
  return STATUS_SUCCESS;
}

BOOLEAN IsGuideComplete(DeviceContext* Device) {
  GuideCollector* guide = &Device->Guide;
  for (ULONG t = 0; t < guide->TableCount; t++) {
    const GuideTableMap* map = &guide->TableMaps[t];
    for (ULONG s = 0; s < map->SectionCount; s++) {
      if (!map->Received[s]) {
        return FALSE;
      }
    }
  }
  return TRUE;
}

VOID FinishGuideCollection(DeviceContext* Device) {
  SignalPrivateEvent(Device, &EVENTSETID_GUIDE_COMPLETE, EVENT_GUIDE_COMPLETE);
  ResetCollection(&Device->Guide);
  __atomic_store_n(&Device->Guide.GuideActive, 0, __ATOMIC_SEQ_CST);
}

VOID StartGuideCollection(DeviceContext* Device, USHORT ServiceId, UCHAR Mode) {
  GuideCollector* guide = &Device->Guide;
  QuiesceCollector(Device);
  guide->ServiceId = ServiceId;
  guide->GuideMode = Mode;
  guide->ResultLength = 0;
  guide->TableCountSet = 0;
  guide->GuideComplete = 0;
  ResetGuideAssembly(Device);
  __atomic_store_n(&guide->GuideActive, 1, __ATOMIC_SEQ_CST);
}

VOID StopGuideCollection(DeviceContext* Device) {
  QuiesceCollector(Device);
  Device->Guide.ResultLength = 0;
  ResetCollection(&Device->Guide);
}

ULONG ReadGuideResult(DeviceContext* Device, PUCHAR Destination) {
  GuideCollector* guide = &Device->Guide;
  QuiesceCollector(Device);
  ULONG length = guide->ResultLength;
  RtlCopyMemory(Destination, guide->ResultBuffer, length);
  guide->ResultLength = 0;
  ResetCollection(guide);
  return length;
}
