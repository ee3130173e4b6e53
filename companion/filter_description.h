// What an application sees of the filter: the pin with its data range and
// stream properties, the private property and event sets, the topology;
// and, for the started device, what the driver found and did on the bus.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host.h"

namespace dtv {

struct NamedGuid {
  std::string name;  // the platform's or the control header's name; "" if unknown
  std::string guid;  // registry format, upper case, braces
};

struct PropertyItemInfo {
  uint32_t id;
  bool get;
  bool set;
  uint32_t minProperty;
  uint32_t minData;
};

struct PropertySetInfo {
  NamedGuid set;
  std::vector<PropertyItemInfo> items;
};

struct EventSetInfo {
  NamedGuid set;
  uint32_t id;
  uint32_t dataInput;
};

struct PinInfo {
  std::string dataflow;
  uint32_t instances;
  NamedGuid category;
  NamedGuid name;
  NamedGuid mediumSet;
  uint32_t mediumId;
  uint32_t mediumFlags;
  NamedGuid majorFormat;
  NamedGuid subFormat;
  NamedGuid specifier;
  uint32_t formatSize;
  uint32_t sampleSize;
  std::vector<PropertySetInfo> properties;
};

struct FilterInfo {
  PinInfo pin;
  std::vector<PropertySetInfo> propertySets;
  std::vector<EventSetInfo> eventSets;
  std::vector<NamedGuid> topologyCategories;
};

struct PipeInfo {
  uint8_t endpoint;
  std::string type;
  uint16_t maxPacketSize;
  uint32_t maxTransferSize;
};

struct DeviceReport {
  uint16_t vendorId;
  uint16_t productId;
  uint16_t usbVersion;  // bcdUSB
  uint8_t interfaces;   // bNumInterfaces
  std::vector<PipeInfo> pipes;
  std::optional<PipeInfo> bulkPipe;
  int fpgaPolls;
  int fpgaChunks;
  size_t fpgaBytes;
  bool fpgaConfigured;
  uint32_t instance;
  bool interfaceEnabled;
  std::string interfaceLink;
  std::optional<uint32_t> activate;
  std::optional<uint32_t> hybernate;
};

NamedGuid Name(const GUID& guid);
FilterInfo DescribeFilter(const HW_STREAM_DESCRIPTOR& descriptor);
// The started device, from the driver's records, the bus, the registry and
// the simulated receiver.
DeviceReport DescribeDevice(Host& host);

nlohmann::json ToJson(const FilterInfo& filter);
nlohmann::json ToJson(const DeviceReport& device);
std::string ToText(const FilterInfo& filter);
std::string ToText(const DeviceReport& device);

}  // namespace dtv
