// Filter and pin descriptors: constant tables only. The stream class driver
// builds the filter the applications see from them; the property and event
// requests they announce are answered in control/.
#include "descriptors.h"

#include "../capture/ts_packet.h"
#include "../control/control_guids.h"
#include "../capture/read_pipeline.h"
#include "dispatch.h"

namespace {

const GUID PinNameVideoCapture = {STATIC_PINNAME_VIDEO_CAPTURE};

constexpr KSPROPERTY_ITEM PropertyItem(ULONG id, BOOLEAN get, BOOLEAN set, ULONG minData) {
  return KSPROPERTY_ITEM{.PropertyId = id,
                         .GetSupported = get,
                         .MinProperty = sizeof(KSPROPERTY),
                         .MinData = minData,
                         .SetSupported = set,
                         .Values = nullptr,
                         .RelationsCount = 0,
                         .Relations = nullptr,
                         .SupportHandler = nullptr,
                         .SerializedSize = 0};
}

constexpr KSEVENT_ITEM EventItem(ULONG id) {
  return KSEVENT_ITEM{.EventId = id,
                      .DataInput = sizeof(KSEVENTDATA),
                      .ExtraEntryData = 0,
                      .AddHandler = nullptr,
                      .RemoveHandler = nullptr,
                      .SupportHandler = nullptr};
}

// ---- Stream properties ----------------------------------------------------

const KSPROPERTY_ITEM ConnectionItems[] = {
    PropertyItem(KSPROPERTY_CONNECTION_ALLOCATORFRAMING, TRUE, FALSE, sizeof(KSALLOCATOR_FRAMING)),
};

const KSPROPERTY_ITEM DroppedFramesItems[] = {
    PropertyItem(KSPROPERTY_DROPPEDFRAMES_CURRENT, TRUE, FALSE,
                 sizeof(KSPROPERTY_DROPPEDFRAMES_CURRENT_S)),
};

const KSPROPERTY_SET StreamPropertySets[] = {
    {&ConnectionSetId, 1, ConnectionItems, 0, nullptr},
    {&DroppedFramesSetId, 1, DroppedFramesItems, 0, nullptr},
};

// ---- Private device properties --------------------------------------------

const KSPROPERTY_ITEM I2cTransactionItems[] = {
    PropertyItem(PROPERTY_I2C_TRANSACTION, TRUE, TRUE, MIN_DATA_I2C_TRANSACTION)};
const KSPROPERTY_ITEM I2cReplyItems[] = {
    PropertyItem(PROPERTY_I2C_REPLY, TRUE, FALSE, MIN_DATA_I2C_REPLY)};
const KSPROPERTY_ITEM SectionReadItems[] = {
    PropertyItem(PROPERTY_SECTION_READ, TRUE, FALSE, MIN_DATA_SECTION_READ)};
const KSPROPERTY_ITEM SectionFilterItems[] = {
    PropertyItem(PROPERTY_SECTION_FILTER, FALSE, TRUE, MIN_DATA_SECTION_FILTER)};
const KSPROPERTY_ITEM PidListItems[] = {
    PropertyItem(PROPERTY_PID_LIST, FALSE, TRUE, MIN_DATA_PID_LIST)};
const KSPROPERTY_ITEM DeviceCommandItems[] = {
    PropertyItem(PROPERTY_DEVICE_COMMAND, FALSE, TRUE, MIN_DATA_DEVICE_COMMAND)};
const KSPROPERTY_ITEM StatisticsItems[] = {
    PropertyItem(PROPERTY_STATISTICS, TRUE, FALSE, MIN_DATA_STATISTICS)};
const KSPROPERTY_ITEM RecordingItems[] = {
    PropertyItem(PROPERTY_RECORDING_START, FALSE, TRUE, MIN_DATA_RECORDING),
    PropertyItem(PROPERTY_RECORDING_STOP, FALSE, TRUE, MIN_DATA_RECORDING)};
const KSPROPERTY_ITEM CommandReplyItems[] = {
    PropertyItem(PROPERTY_COMMAND_REPLY, TRUE, FALSE, MIN_DATA_COMMAND_REPLY)};
const KSPROPERTY_ITEM GuideCollectionItems[] = {
    PropertyItem(PROPERTY_GUIDE_START, FALSE, TRUE, MIN_DATA_GUIDE_COLLECTION),
    PropertyItem(PROPERTY_GUIDE_STOP, FALSE, TRUE, MIN_DATA_GUIDE_COLLECTION)};
const KSPROPERTY_ITEM GuideReadItems[] = {
    PropertyItem(PROPERTY_GUIDE_READ, TRUE, FALSE, MIN_DATA_GUIDE_READ)};
const KSPROPERTY_ITEM VideoInfoItems[] = {
    PropertyItem(PROPERTY_VIDEO_INFO, TRUE, FALSE, MIN_DATA_VIDEO_INFO)};
const KSPROPERTY_ITEM VideoPidItems[] = {
    PropertyItem(PROPERTY_VIDEO_PID, FALSE, TRUE, MIN_DATA_VIDEO_PID)};

#define ITEMS(table) sizeof(table) / sizeof((table)[0]), table

const KSPROPERTY_SET PrivatePropertySets[PrivatePropertySetCount] = {
    {&PROPSETID_I2C_TRANSACTION, ITEMS(I2cTransactionItems), 0, nullptr},
    {&PROPSETID_I2C_REPLY, ITEMS(I2cReplyItems), 0, nullptr},
    {&PROPSETID_SECTION_READ, ITEMS(SectionReadItems), 0, nullptr},
    {&PROPSETID_SECTION_FILTER, ITEMS(SectionFilterItems), 0, nullptr},
    {&PROPSETID_PID_LIST, ITEMS(PidListItems), 0, nullptr},
    {&PROPSETID_DEVICE_COMMAND, ITEMS(DeviceCommandItems), 0, nullptr},
    {&PROPSETID_STATISTICS, ITEMS(StatisticsItems), 0, nullptr},
    {&PROPSETID_RECORDING, ITEMS(RecordingItems), 0, nullptr},
    {&PROPSETID_COMMAND_REPLY, ITEMS(CommandReplyItems), 0, nullptr},
    {&PROPSETID_GUIDE_COLLECTION, ITEMS(GuideCollectionItems), 0, nullptr},
    {&PROPSETID_GUIDE_READ, ITEMS(GuideReadItems), 0, nullptr},
    {&PROPSETID_VIDEO_INFO, ITEMS(VideoInfoItems), 0, nullptr},
    {&PROPSETID_VIDEO_PID, ITEMS(VideoPidItems), 0, nullptr},
};

// ---- Private device events ------------------------------------------------

const KSEVENT_ITEM SectionReadyItems[] = {EventItem(EVENT_SECTION_READY)};
const KSEVENT_ITEM CommandReplyEventItems[] = {EventItem(EVENT_COMMAND_REPLY)};
const KSEVENT_ITEM GuideCompleteItems[] = {EventItem(EVENT_GUIDE_COMPLETE)};
const KSEVENT_ITEM VideoInfoEventItems[] = {EventItem(EVENT_VIDEO_INFO)};

const KSEVENT_SET PrivateEventSets[PrivateEventSetCount] = {
    {&EVENTSETID_SECTION_READY, ITEMS(SectionReadyItems)},
    {&EVENTSETID_COMMAND_REPLY, ITEMS(CommandReplyEventItems)},
    {&EVENTSETID_GUIDE_COMPLETE, ITEMS(GuideCompleteItems)},
    {&EVENTSETID_VIDEO_INFO, ITEMS(VideoInfoEventItems)},
};

#undef ITEMS

// ---- Pin, topology, header ------------------------------------------------

const KSPIN_MEDIUM CaptureMedium = {{{{STATIC_KSMEDIUMSETID_Standard}, 0, 0}}};

const GUID TopologyCategories[] = {{STATIC_KSCATEGORY_CAPTURE}};

const KSTOPOLOGY FilterTopology = {
    sizeof(TopologyCategories) / sizeof(TopologyCategories[0]),
    TopologyCategories,
    0,
    nullptr,
    0,
    nullptr,
    nullptr,
    0,
};

const HW_STREAM_HEADER StreamHeader = {
    .NumberOfStreams = CaptureStreamCount,
    .SizeOfHwStreamInformation = sizeof(HW_STREAM_INFORMATION),
    .NumDevPropArrayEntries = PrivatePropertySetCount,
    .DevicePropertiesArray = const_cast<PKSPROPERTY_SET>(PrivatePropertySets),
    .NumDevEventArrayEntries = PrivateEventSetCount,
    .DeviceEventsArray = const_cast<PKSEVENT_SET>(PrivateEventSets),
    .Topology = const_cast<PKSTOPOLOGY>(&FilterTopology),
    .DeviceEventRoutine = DeviceEventRoutine,
    .NumDevMethodArrayEntries = 0,
    .DeviceMethodsArray = nullptr,
};

const HW_STREAM_INFORMATION CaptureStreamInfo = {
    .NumberOfPossibleInstances = CaptureStreamInstances,
    .DataFlow = KSPIN_DATAFLOW_OUT,
    .DataAccessible = TRUE,
    .NumberOfFormatArrayEntries = CaptureFormatCount,
    .StreamFormatsArray = const_cast<PKSDATAFORMAT*>(CaptureFormats),
    .ClassReserved = {},
    .NumStreamPropArrayEntries = sizeof(StreamPropertySets) / sizeof(StreamPropertySets[0]),
    .StreamPropertiesArray = const_cast<PKSPROPERTY_SET>(StreamPropertySets),
    .NumStreamEventArrayEntries = 0,
    .StreamEventsArray = nullptr,
    .Category = const_cast<GUID*>(&PinNameVideoCapture),
    .Name = const_cast<GUID*>(&PinNameVideoCapture),
    .MediumsCount = 1,
    .Mediums = &CaptureMedium,
    .BridgeStream = FALSE,
    .Reserved = {},
};

}  // namespace

extern const GUID ConnectionSetId = {STATIC_KSPROPSETID_Connection};
extern const GUID DroppedFramesSetId = {STATIC_PROPSETID_VIDCAP_DROPPEDFRAMES};

extern const KSDATARANGE CaptureDataRange = {{
    sizeof(KSDATARANGE),
    0,
    CaptureSampleSize,
    0,
    {STATIC_KSDATAFORMAT_TYPE_STREAM},
    {STATIC_KSDATAFORMAT_TYPE_MPEG2_TRANSPORT},
    {STATIC_KSDATAFORMAT_SPECIFIER_NONE},
}};

extern KSDATAFORMAT* const CaptureFormats[CaptureFormatCount] = {
    const_cast<KSDATAFORMAT*>(&CaptureDataRange),
};

extern const HW_STREAM_OBJECT CaptureStreamTemplate = {
    .SizeOfThisPacket = 0,
    .StreamNumber = 0,
    .HwStreamExtension = nullptr,
    .ReceiveDataPacket = ReceiveDataPacket,
    .ReceiveControlPacket = ReceiveControlPacket,
    .HwClockObject = {nullptr, 0, {0, 0}},
    .Dma = FALSE,
    .Pio = TRUE,
    .HwDeviceExtension = nullptr,
    .StreamHeaderMediaSpecific = 0,
    .StreamHeaderWorkspace = 0,
    .Allocator = FALSE,
    .HwEventRoutine = nullptr,
    .Reserved = {0, 0},
};

VOID FillStreamDescriptor(PHW_STREAM_REQUEST_BLOCK Srb) {
  PHW_STREAM_DESCRIPTOR descriptor = Srb->CommandData.StreamBuffer;
  RtlCopyMemory(&descriptor->StreamHeader, &StreamHeader, sizeof(HW_STREAM_HEADER));
  RtlCopyMemory(&descriptor->StreamInfo, &CaptureStreamInfo, sizeof(HW_STREAM_INFORMATION));
}
