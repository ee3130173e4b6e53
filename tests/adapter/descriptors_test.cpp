// The filter and pin descriptors returned for SRB_GET_STREAM_INFO.
#include <cstring>

#include "control/control_interface.h"
#include "rig.h"

namespace dtvtest {
namespace {

class DescriptorTest : public Rig {
 protected:
  void SetUp() override { BuildAndStart(); }
  const HW_STREAM_HEADER& header() { return adapter().Descriptor().StreamHeader; }
  const HW_STREAM_INFORMATION& info() { return adapter().Descriptor().StreamInfo; }
};

bool Same(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

TEST_F(DescriptorTest, DescribesOneTransportStreamCapturePin) {
  EXPECT_EQ(adapter().DeclaredDescriptorSize(),
            sizeof(HW_STREAM_HEADER) + sizeof(HW_STREAM_INFORMATION));
  EXPECT_EQ(header().NumberOfStreams, 1u);
  EXPECT_EQ(header().SizeOfHwStreamInformation, sizeof(HW_STREAM_INFORMATION));
  EXPECT_EQ(header().NumDevMethodArrayEntries, 0);
  EXPECT_NE(header().DeviceEventRoutine, nullptr);

  EXPECT_EQ(info().NumberOfPossibleInstances, 1u);
  EXPECT_EQ(info().DataFlow, KSPIN_DATAFLOW_OUT);
  EXPECT_TRUE(info().DataAccessible);
  EXPECT_FALSE(info().BridgeStream);
  EXPECT_EQ(info().NumStreamEventArrayEntries, 0u);
  const GUID pinName{STATIC_PINNAME_VIDEO_CAPTURE};
  EXPECT_TRUE(Same(*info().Category, pinName));
  EXPECT_TRUE(Same(*info().Name, pinName));

  ASSERT_EQ(info().MediumsCount, 1u);
  EXPECT_TRUE(Same(info().Mediums[0].Set, GUID{STATIC_KSMEDIUMSETID_Standard}));
  EXPECT_EQ(info().Mediums[0].Id, 0u);
  EXPECT_EQ(info().Mediums[0].Flags, 0u);

  ASSERT_EQ(info().NumberOfFormatArrayEntries, 1u);
  const KSDATARANGE& range = *info().StreamFormatsArray[0];
  EXPECT_EQ(range.FormatSize, 64u);
  EXPECT_EQ(range.Flags, 0u);
  EXPECT_EQ(range.SampleSize, 24064u);
  EXPECT_EQ(range.Reserved, 0u);
  EXPECT_TRUE(Same(range.MajorFormat, GUID{STATIC_KSDATAFORMAT_TYPE_STREAM}));
  EXPECT_TRUE(Same(range.SubFormat, GUID{STATIC_KSDATAFORMAT_TYPE_MPEG2_TRANSPORT}));
  EXPECT_TRUE(Same(range.Specifier, GUID{STATIC_KSDATAFORMAT_SPECIFIER_NONE}));

  const KSTOPOLOGY& topology = *header().Topology;
  ASSERT_EQ(topology.CategoriesCount, 1u);
  EXPECT_TRUE(Same(topology.Categories[0], GUID{STATIC_KSCATEGORY_CAPTURE}));
  EXPECT_EQ(topology.TopologyNodesCount, 0u);
  EXPECT_EQ(topology.TopologyConnectionsCount, 0u);
  EXPECT_EQ(topology.TopologyNodesNames, nullptr);
}

TEST_F(DescriptorTest, StreamPropertiesAreReadOnlyFramingAndDroppedFrames) {
  ASSERT_EQ(info().NumStreamPropArrayEntries, 2u);
  struct Expected {
    GUID set;
    ULONG id;
    ULONG minData;
  };
  const Expected expected[] = {
      {GUID{STATIC_KSPROPSETID_Connection}, KSPROPERTY_CONNECTION_ALLOCATORFRAMING, 24},
      {GUID{STATIC_PROPSETID_VIDCAP_DROPPEDFRAMES}, KSPROPERTY_DROPPEDFRAMES_CURRENT, 48},
  };
  for (ULONG i = 0; i < 2; i++) {
    const KSPROPERTY_SET& set = info().StreamPropertiesArray[i];
    EXPECT_TRUE(Same(*set.Set, expected[i].set)) << i;
    ASSERT_EQ(set.PropertiesCount, 1u);
    EXPECT_EQ(set.FastIoCount, 0u);
    const KSPROPERTY_ITEM& item = set.PropertyItem[0];
    EXPECT_EQ(item.PropertyId, expected[i].id);
    EXPECT_NE(item.GetPropertyHandler, nullptr);
    EXPECT_EQ(item.SetPropertyHandler, nullptr);
    EXPECT_EQ(item.MinProperty, 24u);
    EXPECT_EQ(item.MinData, expected[i].minData);
  }
}

TEST_F(DescriptorTest, PrivatePropertySetsInTableOrder) {
  struct Item {
    ULONG id;
    bool get;
    bool set;
    ULONG minData;
  };
  struct Set {
    GUID guid;
    std::vector<Item> items;
  };
  const Set expected[] = {
      {{STATIC_PROPSETID_I2C_TRANSACTION}, {{0, true, true, 3}}},
      {{STATIC_PROPSETID_I2C_REPLY}, {{1, true, false, 65}}},
      {{STATIC_PROPSETID_SECTION_READ}, {{3, true, false, 8}}},
      {{STATIC_PROPSETID_SECTION_FILTER}, {{2, false, true, 4}}},
      {{STATIC_PROPSETID_PID_LIST}, {{4, false, true, 34}}},
      {{STATIC_PROPSETID_DEVICE_COMMAND}, {{5, false, true, 0}}},
      {{STATIC_PROPSETID_STATISTICS}, {{6, true, false, 0}}},
      {{STATIC_PROPSETID_RECORDING}, {{7, false, true, 102}, {8, false, true, 102}}},
      {{STATIC_PROPSETID_COMMAND_REPLY}, {{9, true, false, 0}}},
      {{STATIC_PROPSETID_GUIDE_COLLECTION}, {{10, false, true, 12}, {12, false, true, 12}}},
      {{STATIC_PROPSETID_GUIDE_READ}, {{11, true, false, 12}}},
      {{STATIC_PROPSETID_VIDEO_INFO}, {{14, true, false, 6}}},
      {{STATIC_PROPSETID_VIDEO_PID}, {{13, false, true, 2}}},
  };
  ASSERT_EQ(header().NumDevPropArrayEntries, 13u);
  for (ULONG s = 0; s < 13; s++) {
    const KSPROPERTY_SET& set = header().DevicePropertiesArray[s];
    SCOPED_TRACE(emu::GuidString(*set.Set));
    EXPECT_TRUE(Same(*set.Set, expected[s].guid)) << "set " << s;
    EXPECT_EQ(set.FastIoCount, 0u);
    EXPECT_EQ(set.FastIoTable, nullptr);
    ASSERT_EQ(set.PropertiesCount, expected[s].items.size());
    for (ULONG i = 0; i < set.PropertiesCount; i++) {
      const KSPROPERTY_ITEM& item = set.PropertyItem[i];
      EXPECT_EQ(item.PropertyId, expected[s].items[i].id);
      EXPECT_EQ(item.GetPropertyHandler != nullptr, expected[s].items[i].get);
      EXPECT_EQ(item.SetPropertyHandler != nullptr, expected[s].items[i].set);
      EXPECT_EQ(item.MinProperty, 24u);
      EXPECT_EQ(item.MinData, expected[s].items[i].minData);
      EXPECT_EQ(item.Values, nullptr);
      EXPECT_EQ(item.RelationsCount, 0u);
      EXPECT_EQ(item.SupportHandler, nullptr);
      EXPECT_EQ(item.SerializedSize, 0u);
    }
  }
}

TEST_F(DescriptorTest, PrivateEventSetsInTableOrder) {
  const GUID expected[] = {{STATIC_EVENTSETID_SECTION_READY},
                           {STATIC_EVENTSETID_COMMAND_REPLY},
                           {STATIC_EVENTSETID_GUIDE_COMPLETE},
                           {STATIC_EVENTSETID_VIDEO_INFO}};
  ASSERT_EQ(header().NumDevEventArrayEntries, 4u);
  for (ULONG s = 0; s < 4; s++) {
    const KSEVENT_SET& set = header().DeviceEventsArray[s];
    EXPECT_TRUE(Same(*set.Set, expected[s]));
    ASSERT_EQ(set.EventsCount, 1u);
    EXPECT_EQ(set.EventItem[0].EventId, s);
    EXPECT_EQ(set.EventItem[0].DataInput, sizeof(KSEVENTDATA));
    EXPECT_EQ(set.EventItem[0].ExtraEntryData, 0u);
    EXPECT_EQ(set.EventItem[0].AddHandler, nullptr);
    EXPECT_EQ(set.EventItem[0].RemoveHandler, nullptr);
    EXPECT_EQ(set.EventItem[0].SupportHandler, nullptr);
  }
}

TEST_F(DescriptorTest, EveryStreamInfoRequestYieldsTheSameBytes) {
  NTSTATUS status;
  std::vector<uint8_t> first = adapter().FetchStreamInfo(&status);
  ASSERT_EQ(status, STATUS_SUCCESS);
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(adapter().FetchStreamInfo(&status), first);
  }
}

TEST_F(DescriptorTest, EventsAreAcceptedAndKeptInEnableOrder) {
  const GUID videoInfo{STATIC_EVENTSETID_VIDEO_INFO};
  NTSTATUS status;
  auto first = adapter().EnableEvent(videoInfo, EVENT_VIDEO_INFO, &status);
  EXPECT_EQ(status, STATUS_SUCCESS);
  auto second = adapter().EnableEvent(videoInfo, EVENT_VIDEO_INFO, &status);
  EXPECT_EQ(status, STATUS_SUCCESS);
  GUID set = videoInfo;
  EXPECT_EQ(StreamClassGetNextEvent(device(), nullptr, &set, EVENT_VIDEO_INFO, nullptr),
            &first->entry);
  EXPECT_EQ(StreamClassGetNextEvent(device(), nullptr, &set, EVENT_VIDEO_INFO, &first->entry),
            &second->entry);
  EXPECT_EQ(adapter().DisableEvent(first), STATUS_SUCCESS);
  EXPECT_EQ(StreamClassGetNextEvent(device(), nullptr, &set, EVENT_VIDEO_INFO, nullptr),
            &second->entry);
  // A set the filter does not have is refused before the driver sees it.
  const GUID foreign{STATIC_KSPROPSETID_Connection};
  EXPECT_EQ(adapter().EnableEvent(foreign, 0, &status), nullptr);
  EXPECT_EQ(status, STATUS_PROPSET_NOT_FOUND);
}

TEST_F(DescriptorTest, PropertyRequestsAreCheckedAgainstTheTablesFirst) {
  struct Case {
    GUID set;
    ULONG id;
    bool get;
    ULONG size;
    NTSTATUS status;  // the stream class driver's verdict
  };
  const Case refused[] = {
      {{STATIC_KSPROPSETID_Connection}, 3, true, 24, STATUS_PROPSET_NOT_FOUND},
      {{STATIC_PROPSETID_I2C_REPLY}, 2, true, 65, STATUS_NOT_FOUND},
      {{STATIC_PROPSETID_I2C_REPLY}, 1, false, 65, STATUS_INVALID_DEVICE_REQUEST},
      {{STATIC_PROPSETID_I2C_REPLY}, 1, true, 64, STATUS_BUFFER_TOO_SMALL},
      {{STATIC_PROPSETID_VIDEO_PID}, 13, true, 2, STATUS_INVALID_DEVICE_REQUEST},
  };
  std::vector<uint8_t> data(256);
  for (const Case& c : refused) {
    NTSTATUS status =
        c.get ? adapter().GetDeviceProperty(c.set, c.id, data.data(), c.size, nullptr)
              : adapter().SetDeviceProperty(c.set, c.id, data.data(), c.size);
    EXPECT_EQ(status, c.status) << emu::GuidString(c.set) << " id " << c.id;
  }
  EXPECT_EQ(adapter().GetDeviceProperty(GUID{STATIC_PROPSETID_I2C_REPLY}, 1, data.data(), 65,
                                        nullptr, sizeof(KSPROPERTY) - 1),
            STATUS_INVALID_BUFFER_SIZE);
  EXPECT_EQ(adapter().PropertyRequestsDelivered(), 0);
}

}  // namespace
}  // namespace dtvtest
