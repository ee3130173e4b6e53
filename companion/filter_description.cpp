// The filter and device description of dtvctl info (see filter_description.h).
#include "filter_description.h"

#include <fmt/format.h>

#include <cstring>

#include "adapter/device_context.h"
#include "control/control_interface.h"
#include "kernel/kernel.h"
#include "usb/usb_device.h"

namespace dtv {
namespace {

struct KnownGuid {
  GUID guid;
  const char* name;
};

const KnownGuid KnownGuids[] = {
    {{STATIC_KSCATEGORY_CAPTURE}, "KSCATEGORY_CAPTURE"},
    {{STATIC_PINNAME_VIDEO_CAPTURE}, "PINNAME_VIDEO_CAPTURE"},
    {{STATIC_KSMEDIUMSETID_Standard}, "KSMEDIUMSETID_Standard"},
    {{STATIC_KSDATAFORMAT_TYPE_STREAM}, "MEDIATYPE_Stream"},
    {{STATIC_KSDATAFORMAT_TYPE_MPEG2_TRANSPORT}, "MEDIASUBTYPE_MPEG2_TRANSPORT"},
    {{STATIC_KSDATAFORMAT_SPECIFIER_NONE}, "KSDATAFORMAT_SPECIFIER_NONE"},
    {{STATIC_KSPROPSETID_Connection}, "KSPROPSETID_Connection"},
    {{STATIC_PROPSETID_VIDCAP_DROPPEDFRAMES}, "PROPSETID_VIDCAP_DROPPEDFRAMES"},
    {{STATIC_PROPSETID_I2C_TRANSACTION}, "PROPSETID_I2C_TRANSACTION"},
    {{STATIC_PROPSETID_I2C_REPLY}, "PROPSETID_I2C_REPLY"},
    {{STATIC_PROPSETID_SECTION_READ}, "PROPSETID_SECTION_READ"},
    {{STATIC_PROPSETID_SECTION_FILTER}, "PROPSETID_SECTION_FILTER"},
    {{STATIC_PROPSETID_PID_LIST}, "PROPSETID_PID_LIST"},
    {{STATIC_PROPSETID_DEVICE_COMMAND}, "PROPSETID_DEVICE_COMMAND"},
    {{STATIC_PROPSETID_STATISTICS}, "PROPSETID_STATISTICS"},
    {{STATIC_PROPSETID_RECORDING}, "PROPSETID_RECORDING"},
    {{STATIC_PROPSETID_COMMAND_REPLY}, "PROPSETID_COMMAND_REPLY"},
    {{STATIC_PROPSETID_GUIDE_COLLECTION}, "PROPSETID_GUIDE_COLLECTION"},
    {{STATIC_PROPSETID_GUIDE_READ}, "PROPSETID_GUIDE_READ"},
    {{STATIC_PROPSETID_VIDEO_INFO}, "PROPSETID_VIDEO_INFO"},
    {{STATIC_PROPSETID_VIDEO_PID}, "PROPSETID_VIDEO_PID"},
    {{STATIC_EVENTSETID_SECTION_READY}, "EVENTSETID_SECTION_READY"},
    {{STATIC_EVENTSETID_COMMAND_REPLY}, "EVENTSETID_COMMAND_REPLY"},
    {{STATIC_EVENTSETID_GUIDE_COMPLETE}, "EVENTSETID_GUIDE_COMPLETE"},
    {{STATIC_EVENTSETID_VIDEO_INFO}, "EVENTSETID_VIDEO_INFO"},
    {{STATIC_GUID_DEVINTERFACE_CONTROL}, "GUID_DEVINTERFACE_CONTROL"},
};

std::vector<PropertySetInfo> DescribeSets(const KSPROPERTY_SET* sets, ULONG count) {
  std::vector<PropertySetInfo> out;
  for (ULONG i = 0; i < count; i++) {
    PropertySetInfo info{Name(*sets[i].Set), {}};
    for (ULONG j = 0; j < sets[i].PropertiesCount; j++) {
      const KSPROPERTY_ITEM& item = sets[i].PropertyItem[j];
      info.items.push_back(PropertyItemInfo{item.PropertyId, item.GetPropertyHandler != nullptr,
                                            item.SetPropertyHandler != nullptr, item.MinProperty,
                                            item.MinData});
    }
    out.push_back(info);
  }
  return out;
}

std::string PipeType(USBD_PIPE_TYPE type) {
  switch (type) {
    case UsbdPipeTypeControl:
      return "control";
    case UsbdPipeTypeIsochronous:
      return "isochronous";
    case UsbdPipeTypeBulk:
      return "bulk";
    case UsbdPipeTypeInterrupt:
      return "interrupt";
  }
  return "unknown";
}

std::optional<uint32_t> PresenceValue(const char* key) {
  auto value = emu::Registry::ReadValue(key, PRESENCE_VALUE_NAME);
  if (!value || value->data.size() != 4) {
    return std::nullopt;
  }
  uint32_t data;
  std::memcpy(&data, value->data.data(), 4);
  return data;
}

std::string Labelled(const NamedGuid& name) {
  return name.name.empty() ? name.guid : fmt::format("{} {}", name.name, name.guid);
}

nlohmann::json GuidJson(const NamedGuid& name) { return name.guid; }

}  // namespace

NamedGuid Name(const GUID& guid) {
  for (const KnownGuid& known : KnownGuids) {
    if (std::memcmp(&known.guid, &guid, sizeof(GUID)) == 0) {
      return NamedGuid{known.name, emu::GuidString(guid)};
    }
  }
  return NamedGuid{"", emu::GuidString(guid)};
}

FilterInfo DescribeFilter(const HW_STREAM_DESCRIPTOR& descriptor) {
  const HW_STREAM_HEADER& header = descriptor.StreamHeader;
  const HW_STREAM_INFORMATION& stream = descriptor.StreamInfo;
  FilterInfo filter;
  PinInfo& pin = filter.pin;
  pin.dataflow = stream.DataFlow == KSPIN_DATAFLOW_OUT ? "out" : "in";
  pin.instances = stream.NumberOfPossibleInstances;
  pin.category = Name(*stream.Category);
  pin.name = Name(*stream.Name);
  if (stream.MediumsCount != 0) {
    pin.mediumSet = Name(stream.Mediums[0].Set);
    pin.mediumId = stream.Mediums[0].Id;
    pin.mediumFlags = stream.Mediums[0].Flags;
  }
  if (stream.NumberOfFormatArrayEntries != 0) {
    const KSDATARANGE& range = *stream.StreamFormatsArray[0];
    pin.majorFormat = Name(range.MajorFormat);
    pin.subFormat = Name(range.SubFormat);
    pin.specifier = Name(range.Specifier);
    pin.formatSize = range.FormatSize;
    pin.sampleSize = range.SampleSize;
  }
  pin.properties = DescribeSets(stream.StreamPropertiesArray, stream.NumStreamPropArrayEntries);
  filter.propertySets = DescribeSets(header.DevicePropertiesArray, header.NumDevPropArrayEntries);
  for (ULONG i = 0; i < header.NumDevEventArrayEntries; i++) {
    const KSEVENT_SET& set = header.DeviceEventsArray[i];
    for (ULONG j = 0; j < set.EventsCount; j++) {
      filter.eventSets.push_back(
          EventSetInfo{Name(*set.Set), set.EventItem[j].EventId, set.EventItem[j].DataInput});
    }
  }
  for (ULONG i = 0; i < header.Topology->CategoriesCount; i++) {
    filter.topologyCategories.push_back(Name(header.Topology->Categories[i]));
  }
  return filter;
}

DeviceReport DescribeDevice(Host& host) {
  const DeviceContext* device = static_cast<const DeviceContext*>(host.Adapter().DeviceExtension());
  const UsbInfo* usb = device->UsbInfoRecord;
  DeviceReport report{};
  const PUSB_DEVICE_DESCRIPTOR descriptor = usb->DeviceDescriptor;
  report.vendorId = descriptor->idVendor;
  report.productId = descriptor->idProduct;
  report.usbVersion = descriptor->bcdUSB;
  report.interfaces = usb->ConfigDescriptor->bNumInterfaces;
  if (usb->InterfaceInfo != nullptr) {
    for (ULONG i = 0; i < usb->InterfaceInfo->NumberOfPipes; i++) {
      const USBD_PIPE_INFORMATION& pipe = usb->InterfaceInfo->Pipes[i];
      PipeInfo info{pipe.EndpointAddress, PipeType(pipe.PipeType), pipe.MaximumPacketSize,
                    pipe.MaximumTransferSize};
      report.pipes.push_back(info);
      if (pipe.PipeHandle == device->BulkPipeHandle) {
        report.bulkPipe = info;
      }
    }
  }
  sim::Receiver& receiver = host.Receiver();
  report.fpgaPolls = receiver.StatusPolls();
  report.fpgaChunks = receiver.ChunksAccepted();
  report.fpgaBytes = receiver.ImageBytesReceived();
  report.fpgaConfigured = receiver.FpgaConfigured();
  report.instance = device->InstanceNumber;
  std::string link = emu::Utf8(device->InterfaceName);
  for (const auto& entry : emu::DeviceInterfaces::All()) {
    if (entry.symbolicLink == link) {
      report.interfaceEnabled = entry.enabled;
      report.interfaceLink = entry.symbolicLink;
    }
  }
  report.activate = PresenceValue(PRESENCE_ARRIVAL_KEY);
  report.hybernate = PresenceValue(PRESENCE_DEPARTURE_KEY);
  return report;
}

nlohmann::json ToJson(const FilterInfo& filter) {
  auto sets = [](const std::vector<PropertySetInfo>& list) {
    nlohmann::json out = nlohmann::json::array();
    for (const PropertySetInfo& set : list) {
      nlohmann::json items = nlohmann::json::array();
      for (const PropertyItemInfo& item : set.items) {
        items.push_back({{"id", item.id},
                         {"get", item.get},
                         {"set", item.set},
                         {"min_property", item.minProperty},
                         {"min_data", item.minData}});
      }
      out.push_back({{"name", set.set.name}, {"guid", set.set.guid}, {"items", items}});
    }
    return out;
  };
  const PinInfo& pin = filter.pin;
  nlohmann::json events = nlohmann::json::array();
  for (const EventSetInfo& event : filter.eventSets) {
    events.push_back({{"name", event.set.name},
                      {"guid", event.set.guid},
                      {"id", event.id},
                      {"data_input", event.dataInput}});
  }
  nlohmann::json categories = nlohmann::json::array();
  for (const NamedGuid& category : filter.topologyCategories) {
    categories.push_back({{"name", category.name}, {"guid", category.guid}});
  }
  return {{"pin",
           {{"dataflow", pin.dataflow},
            {"instances", pin.instances},
            {"category", GuidJson(pin.category)},
            {"name", GuidJson(pin.name)},
            {"medium", {{"set", GuidJson(pin.mediumSet)}, {"id", pin.mediumId}, {"flags", pin.mediumFlags}}},
            {"major_format", GuidJson(pin.majorFormat)},
            {"sub_format", GuidJson(pin.subFormat)},
            {"specifier", GuidJson(pin.specifier)},
            {"format_size", pin.formatSize},
            {"sample_size", pin.sampleSize},
            {"properties", sets(pin.properties)}}},
          {"property_sets", sets(filter.propertySets)},
          {"event_sets", events},
          {"topology", {{"categories", categories}}}};
}

nlohmann::json ToJson(const DeviceReport& device) {
  auto pipe = [](const PipeInfo& info) {
    return nlohmann::json{{"endpoint", info.endpoint},
                          {"type", info.type},
                          {"max_packet_size", info.maxPacketSize},
                          {"max_transfer_size", info.maxTransferSize}};
  };
  nlohmann::json pipes = nlohmann::json::array();
  for (const PipeInfo& info : device.pipes) {
    pipes.push_back(pipe(info));
  }
  auto optional = [](const std::optional<uint32_t>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
  };
  return {{"device",
           {{"vendor_id", device.vendorId},
            {"product_id", device.productId},
            {"usb_version", fmt::format("{:x}.{:02x}", device.usbVersion >> 8, device.usbVersion & 0xFF)}}},
          {"configuration", {{"interfaces", device.interfaces}, {"pipes", pipes}}},
          {"bulk_pipe", device.bulkPipe ? pipe(*device.bulkPipe) : nlohmann::json(nullptr)},
          {"fpga",
           {{"polls", device.fpgaPolls},
            {"chunks", device.fpgaChunks},
            {"bytes", device.fpgaBytes},
            {"configured", device.fpgaConfigured}}},
          {"instance", device.instance},
          {"interface_enabled", device.interfaceEnabled},
          {"interface", device.interfaceLink},
          {"presence", {{"activate", optional(device.activate)}, {"hybernate", optional(device.hybernate)}}}};
}

std::string ToText(const FilterInfo& filter) {
  const PinInfo& pin = filter.pin;
  std::string out;
  out += "Filter\n";
  for (const NamedGuid& category : filter.topologyCategories) {
    out += fmt::format("  topology category  {}\n", Labelled(category));
  }
  out += fmt::format("Pin 0: data flow {}, {} instance(s)\n", pin.dataflow, pin.instances);
  out += fmt::format("  category           {}\n", Labelled(pin.category));
  out += fmt::format("  name               {}\n", Labelled(pin.name));
  out += fmt::format("  medium             {}, id {}, flags {}\n", Labelled(pin.mediumSet),
                     pin.mediumId, pin.mediumFlags);
  out += "  data range\n";
  out += fmt::format("    major format     {}\n", Labelled(pin.majorFormat));
  out += fmt::format("    sub format       {}\n", Labelled(pin.subFormat));
  out += fmt::format("    specifier        {}\n", Labelled(pin.specifier));
  out += fmt::format("    sample size      {} bytes ({} packets of 188 bytes)\n", pin.sampleSize,
                     pin.sampleSize / 188);
  auto sets = [&out](const std::vector<PropertySetInfo>& list) {
    for (const PropertySetInfo& set : list) {
      out += fmt::format("    {}\n", Labelled(set.set));
      for (const PropertyItemInfo& item : set.items) {
        out += fmt::format("      id {:<3} {:<7} min property {}, min data {}\n", item.id,
                           std::string(item.get ? "get" : "") + (item.get && item.set ? "/" : "") +
                               (item.set ? "set" : ""),
                           item.minProperty, item.minData);
      }
    }
  };
  out += "  stream properties\n";
  sets(pin.properties);
  out += fmt::format("Private property sets ({})\n", filter.propertySets.size());
  sets(filter.propertySets);
  out += fmt::format("Private event sets ({})\n", filter.eventSets.size());
  for (const EventSetInfo& event : filter.eventSets) {
    out += fmt::format("    {}\n      id {}, data input {}\n", Labelled(event.set), event.id,
                       event.dataInput);
  }
  return out;
}

std::string ToText(const DeviceReport& device) {
  std::string out;
  out += "Device\n";
  out += fmt::format("  vendor id          0x{:04X}\n", device.vendorId);
  out += fmt::format("  product id         0x{:04X}\n", device.productId);
  out += fmt::format("  USB version        {:x}.{:02x}\n", device.usbVersion >> 8,
                     device.usbVersion & 0xFF);
  out += fmt::format("  interfaces         {}\n", device.interfaces);
  for (const PipeInfo& pipe : device.pipes) {
    out += fmt::format("  pipe               endpoint 0x{:02X} {} max packet {} max transfer {}\n",
                       pipe.endpoint, pipe.type, pipe.maxPacketSize, pipe.maxTransferSize);
  }
  out += device.bulkPipe ? fmt::format("  bulk pipe          endpoint 0x{:02X}\n",
                                       device.bulkPipe->endpoint)
                         : "  bulk pipe          none\n";
  out += fmt::format("  FPGA download      {} poll(s), {} chunk(s), {} bytes, {}\n",
                     device.fpgaPolls, device.fpgaChunks, device.fpgaBytes,
                     device.fpgaConfigured ? "configured" : "not configured");
  out += fmt::format("  instance           {}\n", device.instance);
  out += fmt::format("  control interface  {} ({})\n", device.interfaceLink,
                     device.interfaceEnabled ? "enabled" : "disabled");
  auto presence = [](const std::optional<uint32_t>& value) {
    return value ? std::to_string(*value) : std::string("not written");
  };
  out += fmt::format("  presence           Activate: {}, Hybernate: {}\n",
                     presence(device.activate), presence(device.hybernate));
  return out;
}

}  // namespace dtv
