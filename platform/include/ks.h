/*
 * Emulated platform: the kernel-streaming records the driver's tables and
 * requests are built from (properties, events, data formats, pins,
 * topology, allocator framing, stream headers).
 */
#pragma once

#include "wdm.h"

typedef struct {
  union {
    struct {
      GUID Set;
      ULONG Id;
      ULONG Flags;
    };
    LONGLONG Alignment;
  };
} KSIDENTIFIER, *PKSIDENTIFIER;
typedef KSIDENTIFIER KSPROPERTY, *PKSPROPERTY, KSMETHOD, *PKSMETHOD, KSEVENT, *PKSEVENT;

#define KSPROPERTY_TYPE_GET 0x00000001
#define KSPROPERTY_TYPE_SET 0x00000002

typedef NTSTATUS(NTAPI* PFNKSHANDLER)(PIRP Irp, PKSIDENTIFIER Request, PVOID Data);

typedef struct {
  ULONG PropertyId;
  union {
    PFNKSHANDLER GetPropertyHandler;
    BOOLEAN GetSupported;
  };
  ULONG MinProperty;
  ULONG MinData;
  union {
    PFNKSHANDLER SetPropertyHandler;
    BOOLEAN SetSupported;
  };
  const PVOID Values;
  ULONG RelationsCount;
  const KSPROPERTY* Relations;
  PFNKSHANDLER SupportHandler;
  ULONG SerializedSize;
} KSPROPERTY_ITEM, *PKSPROPERTY_ITEM;

typedef struct {
  const GUID* Set;
  ULONG PropertiesCount;
  const KSPROPERTY_ITEM* PropertyItem;
  ULONG FastIoCount;
  const PVOID FastIoTable;
} KSPROPERTY_SET, *PKSPROPERTY_SET;

typedef struct _KSEVENTDATA {
  ULONG NotificationType;
  union {
    struct {
      HANDLE Event;
      ULONG_PTR Unused;
      LONG_PTR Reserved;
    } EventHandle;
    struct {
      PVOID Unused[3];
    } Alignment;
  };
} KSEVENTDATA, *PKSEVENTDATA;

#define KSEVENTF_EVENT_HANDLE 0x00000001

typedef struct _KSEVENT_ENTRY KSEVENT_ENTRY, *PKSEVENT_ENTRY;

struct _KSEVENT_ENTRY {
  LIST_ENTRY ListEntry;
  PVOID Object;
  PVOID DpcItem;
  PKSEVENTDATA EventData;
  ULONG NotificationType;
  const struct _KSEVENT_SET_* EventSet;
  const struct _KSEVENT_ITEM_* EventItem;
  PVOID FileObject;
  ULONG SemaphoreAdjustment;
  ULONG Reserved;
  ULONG Flags;
};

typedef NTSTATUS(NTAPI* PFNKSADDEVENT)(PIRP Irp, PKSEVENTDATA EventData,
                                       struct _KSEVENT_ENTRY* EventEntry);
typedef VOID(NTAPI* PFNKSREMOVEEVENT)(PVOID FileObject, struct _KSEVENT_ENTRY* EventEntry);

typedef struct _KSEVENT_ITEM_ {
  ULONG EventId;
  ULONG DataInput;
  ULONG ExtraEntryData;
  PFNKSADDEVENT AddHandler;
  PFNKSREMOVEEVENT RemoveHandler;
  PFNKSHANDLER SupportHandler;
} KSEVENT_ITEM, *PKSEVENT_ITEM;

typedef struct _KSEVENT_SET_ {
  const GUID* Set;
  ULONG EventsCount;
  const KSEVENT_ITEM* EventItem;
} KSEVENT_SET, *PKSEVENT_SET;

typedef struct {
  const GUID* Set;
  ULONG MethodsCount;
  const PVOID MethodItem;
  ULONG FastIoCount;
  const PVOID FastIoTable;
} KSMETHOD_SET, *PKSMETHOD_SET;

typedef union {
  struct {
    ULONG FormatSize;
    ULONG Flags;
    ULONG SampleSize;
    ULONG Reserved;
    GUID MajorFormat;
    GUID SubFormat;
    GUID Specifier;
  };
  LONGLONG Alignment;
} KSDATAFORMAT, *PKSDATAFORMAT, KSDATARANGE, *PKSDATARANGE;

typedef KSIDENTIFIER KSPIN_MEDIUM, *PKSPIN_MEDIUM;

typedef enum {
  KSPIN_DATAFLOW_IN = 1,
  KSPIN_DATAFLOW_OUT
} KSPIN_DATAFLOW, *PKSPIN_DATAFLOW;

typedef struct {
  ULONG FromNode;
  ULONG FromNodePin;
  ULONG ToNode;
  ULONG ToNodePin;
} KSTOPOLOGY_CONNECTION, *PKSTOPOLOGY_CONNECTION;

typedef struct {
  ULONG CategoriesCount;
  const GUID* Categories;
  ULONG TopologyNodesCount;
  const GUID* TopologyNodes;
  ULONG TopologyConnectionsCount;
  const KSTOPOLOGY_CONNECTION* TopologyConnections;
  const GUID* TopologyNodesNames;
  ULONG Reserved;
} KSTOPOLOGY, *PKSTOPOLOGY;

typedef enum {
  KSSTATE_STOP,
  KSSTATE_ACQUIRE,
  KSSTATE_PAUSE,
  KSSTATE_RUN
} KSSTATE, *PKSSTATE;

typedef struct {
  union {
    ULONG OptionsFlags;
    ULONG RequirementsFlags;
  };
  POOL_TYPE PoolType;
  ULONG Frames;
  ULONG FrameSize;
  ULONG FileAlignment;
  ULONG Reserved;
} KSALLOCATOR_FRAMING, *PKSALLOCATOR_FRAMING;

#define KSALLOCATOR_REQUIREMENTF_INPLACE_MODIFIER 0x00000001
#define KSALLOCATOR_REQUIREMENTF_SYSTEM_MEMORY 0x00000002
#define KSALLOCATOR_REQUIREMENTF_FRAME_INTEGRITY 0x00000004
#define KSALLOCATOR_REQUIREMENTF_MUST_ALLOCATE 0x00000008
#define KSALLOCATOR_REQUIREMENTF_PREFERENCES_ONLY 0x80000000

#define FILE_BYTE_ALIGNMENT 0x00000000
#define FILE_WORD_ALIGNMENT 0x00000001
#define FILE_LONG_ALIGNMENT 0x00000003

typedef struct {
  LONGLONG Time;
  ULONG Numerator;
  ULONG Denominator;
} KSTIME;

typedef struct {
  ULONG Size;
  ULONG TypeSpecificFlags;
  KSTIME PresentationTime;
  LONGLONG Duration;
  ULONG FrameExtent;
  ULONG DataUsed;
  PVOID Data;
  ULONG OptionsFlags;
#if UINTPTR_MAX > 0xFFFFFFFFu
  ULONG Reserved;
#endif
} KSSTREAM_HEADER, *PKSSTREAM_HEADER;

/* ---- Published set identifiers ---------------------------------------- */

#define STATIC_KSPROPSETID_Connection \
  0x1D58C920L, 0xAC9B, 0x11CF, { 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00 }
#define KSPROPERTY_CONNECTION_ALLOCATORFRAMING 3

#define STATIC_KSCATEGORY_CAPTURE \
  0x65E8773DL, 0x8F56, 0x11D0, { 0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96 }

#define STATIC_KSMEDIUMSETID_Standard \
  0x4747B320L, 0x62CE, 0x11CF, { 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00 }

#define STATIC_KSDATAFORMAT_TYPE_STREAM \
  0xE436EB83L, 0x524F, 0x11CE, { 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70 }

#define STATIC_KSDATAFORMAT_SPECIFIER_NONE \
  0x0F6417D6L, 0xC318, 0x11D0, { 0xA4, 0x3F, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96 }

#define STATIC_GUID_NULL \
  0x00000000L, 0x0000, 0x0000, { 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00 }
