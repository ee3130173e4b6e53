// The adapter's records: DeviceContext (the device extension), StreamContext
// (the capture stream's extension) and RequestLink (every SRB's extension).
// Every field says which subsystem owns it and who else reads it. Fields
// shared with the bulk completion path without a lock are accessed through
// shared_value.h only.
#pragma once

#include "ddk.h"

struct DeviceContext;

// Number of stream slots in the per-stream arrays; only stream 0 exists.
constexpr ULONG MaxStreams = 4;
// Section filter slots; only slot 0 is ever armed.
constexpr ULONG SectionSlotCount = 8;
// Table maps of the program-guide collector, one per table index 0 to 15.
constexpr ULONG GuideTableCount = 16;
constexpr ULONG GuideResultSize = 131072;
constexpr ULONG GuideAssemblySize = 8192;
// Bytes kept between two analysed buffers: room for two packets.
constexpr ULONG CarryBufferSize = 376;

// Per-request extension of every SRB.
struct RequestLink {
  LIST_ENTRY Link;               // in DeviceQueue or a ControlQueue while the SRB waits
  PHW_STREAM_REQUEST_BLOCK Srb;  // the SRB owning this extension; set when queued
  PIRP BulkIrp;                  // bulk IRP of a read SRB (capture/read_pipeline.cpp)
};

// Per-stream extension; zeroed at open (adapter/capture_stream.cpp).
struct StreamContext {
  DeviceContext* Device;            // the adapter the stream belongs to
  PHW_STREAM_OBJECT StreamObject;   // its StreamNumber indexes the per-stream arrays
  KSSTATE State;                    // written by the control queue, read by ReceiveDataPacket
  HANDLE MasterClock;               // last indicated master clock; never used
  // Read rundown (capture/read_pipeline.cpp): 1 for the open stream, plus one
  // for each read being submitted and one for each transfer until its IRP and
  // URB are released. Close sets ReadsClosing, cancels, drops the 1 and waits
  // on ReadsDrained until the count reaches 0.
  LONG ReadsInFlight;
  ULONG ReadsClosing;  // written and read under the stream's PendingReadLock
  KEVENT ReadsDrained;
};

// A section being gathered by the section filter (capture/section_filter.cpp).
struct SectionRecord {
  PUCHAR Buffer;          // SectionBufferSize bytes, from the table_id byte on
  USHORT SectionLength;   // 12-bit section_length of the section
  PUCHAR WritePosition;   // end of the bytes gathered in Buffer
  LIST_ENTRY Link;        // in the slot's RecordList; Flink null once unlinked
};

struct SectionSlot {
  USHORT Pid;                  // PID gathered; 0x1FFF when empty (shared value)
  UCHAR TableIdFilter;         // table_id a new section must have; 0xFF accepts any
  UCHAR SectionNumberFilter;   // section_number a new section must have
  LIST_ENTRY RecordList;       // SectionRecords, oldest first; guarded by RecordLock
  KSPIN_LOCK RecordLock;
};

// Picture size found by the video probe (capture/video_probe.cpp).
struct VideoInfoRecord {
  USHORT Width;        // horizontal_size_value
  USHORT Height;       // vertical_size_value
  USHORT AspectRatio;  // aspect_ratio_information
};

// A sequence header whose code ends a packet: the size and aspect bytes that
// packet held, waiting for the rest from the next packet of the PID.
// Completion path only.
struct VideoHeaderTail {
  UCHAR Waiting;  // a header waits for its remaining bytes
  UCHAR Count;    // bytes held, 0 to 3
  UCHAR Cc;       // continuity_counter of the packet that held the code
  UCHAR Bytes[4];
  USHORT Pid;     // PID of that packet
};

// Recording state. For now it holds the packet carried between analysed
// buffers (capture/align.cpp).
struct RecordState {
  UCHAR CarryBuffer[CarryBufferSize];
  ULONG CarryCount;  // bytes held in CarryBuffer
};

struct CaptureStatistics {
  ULONG TotalBytes;  // bytes reported by every completed bulk read; wraps
  ULONG Reserved1;   // always 0
  ULONG Reserved2;   // always 0
};

struct GuideTableMap {
  USHORT SectionCount;   // last_section_number + 1 of the table
  UCHAR Started;         // set up in the current collection
  UCHAR Received[256];   // per section_number: received or not awaited
};

// Program-guide collector (capture/guide_collector.cpp). The property
// handlers write the parameters and GuideActive; the completion path does the
// rest while GuideActive is set.
struct GuideCollector {
  ULONG GuideActive;       // switch: a collection runs
  // Completions inside the collector right now. The property side turns
  // GuideActive off and waits for 0 before it touches the collector, so the
  // two sides never work on it at the same time.
  LONG GuideInUse;
  USHORT ServiceId;        // service_id collected
  UCHAR GuideMode;         // 0 present/following, 1 schedule
  UCHAR TableCount;        // table indexes awaited, from 0 up
  ULONG ResultLength;      // bytes of ResultBuffer in use
  ULONG TableCountSet;     // TableCount taken from the first accepted section
  ULONG GuideComplete;     // every awaited section received
  GuideTableMap TableMaps[GuideTableCount];
  // Assembly of the section under way, kept per device.
  ULONG InSection;
  USHORT ExpectedLength;   // section_length of the section under way
  USHORT CollectedLength;  // bytes of it in AssemblyBuffer
  UCHAR PreviousCc;        // continuity_counter of the last packet handled
  UCHAR Reserved[3];
  UCHAR AssemblyBuffer[GuideAssemblySize];
  UCHAR ResultBuffer[GuideResultSize];  // result records: 16-bit LE length, section
};

struct UsbInfo;

// The device extension, zeroed by the stream class driver before the first SRB.
struct DeviceContext {
  // Capture stream control (adapter/capture_stream.cpp).
  StreamContext* StreamContexts[MaxStreams];  // the open stream, none while closed
  ULONG StreamInstances[MaxStreams];          // open instances: 0 or 1

  // Start and stop (adapter/device_start.cpp).
  PDEVICE_OBJECT PhysicalDevice;   // receives every URB
  DEVICE_POWER_STATE PowerState;   // last requested power state; nothing reads it

  // Device queue (adapter/dispatch.cpp, adapter/request_queue.cpp).
  ULONG DeviceQueueReady;          // queue set up by the first device SRB
  KSPIN_LOCK QueueLock;            // guards every queue list and busy flag
  LIST_ENTRY DeviceQueue;          // device SRBs waiting, oldest first
  ULONG DeviceQueueBusy;           // a device SRB is being handled
  // Device SRBs are handled at PASSIVE_LEVEL: an owner that enters above it
  // hands its SRB and the rest of the queue to this work item.
  WORK_QUEUE_ITEM DeviceQueueWorker;
  PHW_STREAM_REQUEST_BLOCK DeferredDeviceSrb;  // the SRB handed to the worker

  // Pending reads (capture/read_pipeline.cpp).
  LIST_ENTRY PendingReadList[MaxStreams];
  KSPIN_LOCK PendingReadLock[MaxStreams];

  // Control queues (adapter/dispatch.cpp), guarded by QueueLock.
  LIST_ENTRY ControlQueue[MaxStreams];
  ULONG ControlQueueBusy[MaxStreams];

  ULONG InstanceNumber;            // this adapter among those started since load
  UsbInfo* UsbInfoRecord;          // descriptors and interface (usb/configure.cpp)
  KEVENT UsbRequestEvent;          // completion of synchronous URBs (usb/submit.cpp)

  // Section filter (capture/section_filter.cpp) and video probe
  // (capture/video_probe.cpp).
  SectionSlot SectionSlots[SectionSlotCount];
  // The newest record and its Buffer: what a read returns. Kept, even once
  // unlinked, until a newer section starts or the device stops. Guarded by
  // slot 0's RecordLock, the only slot that is ever armed.
  PUCHAR CurrentSection;
  SectionRecord* CurrentRecord;
  USHORT VideoProbePid;            // PID probed; 0x1FFF idle (switch)
  VideoInfoRecord VideoInfo;
  VideoHeaderTail VideoTail;

  NPAGED_LOOKASIDE_LIST UrbLookaside;  // bulk-transfer URBs, tag "DIBC"
  UNICODE_STRING InterfaceName;        // symbolic link of the control interface
  KSPIN_MEDIUM FilterMedium;           // registration medium: Id is InstanceNumber

  RecordState Recording;

  USBD_PIPE_HANDLE BulkPipeHandle;     // the transport stream's bulk IN pipe
  ULONG SectionFilterArmed;            // switch of the section filter
  CaptureStatistics CaptureStats;
  GuideCollector Guide;

  UCHAR DeviceReady;                   // start reached the FPGA download
};
