// EIT generation with libdvbpsi. Schedule events follow each other in the
// three-hour window of their segment; the present and following events are
// the first two of the service's first schedule segment.
#include "stream/eit_tables.h"

#include <cstdio>
#include <stdexcept>
#include <string>

#include "stream/libdvbpsi.h"

namespace sim {
namespace {

constexpr uint8_t TableVersion = 0;
constexpr size_t SegmentLastSectionNumberOffset = 12;
constexpr uint32_t GuideEpochMjd = 60370;  // 2024-03-01, the first day of the guide
constexpr uint32_t MinutesPerDay = 24 * 60;
constexpr uint32_t DaysPerScheduleTable = 4;
constexpr uint32_t SectionsPerSegment = 8;
constexpr uint32_t SegmentMinutes = 3 * 60;
constexpr uint32_t EventMinutes = 20;
constexpr uint16_t FirstEventId = 0x1000;

constexpr uint8_t RunningStatusUndefined = 0;
constexpr uint8_t RunningStatusNotRunning = 1;
constexpr uint8_t RunningStatusRunning = 4;

constexpr uint8_t ShortEventDescriptorTag = 0x4D;
constexpr char Language[] = "eng";
constexpr size_t LanguageCodeSize = 3;
constexpr size_t DescriptorHeaderSize = 2;
constexpr size_t MinTextLength = 80;
constexpr size_t TextLengthSpread = 110;
constexpr size_t TextLengthStride = 53;  // scatters the lengths from one event to the next
constexpr char TextPattern[] =
    "A flat grey picture with silence, broadcast to test the guide: long enough to carry the "
    "section over several transport packets. ";

struct Event {
  uint16_t id;
  uint32_t startMinute;  // from the start of the guide's first day
  std::string name;
  std::string text;
  uint8_t runningStatus;
};

uint32_t Bcd(uint32_t value) { return (value / 10) << 4 | (value % 10); }

uint64_t StartTime(uint32_t minute) {
  const uint64_t mjd = GuideEpochMjd + minute / MinutesPerDay;
  const uint32_t ofDay = minute % MinutesPerDay;
  return mjd << 24 | Bcd(ofDay / 60) << 16 | Bcd(ofDay % 60) << 8;
}

uint32_t Duration(uint32_t minutes) { return Bcd(minutes / 60) << 16 | Bcd(minutes % 60) << 8; }

const ServiceInfo& FindService(uint16_t serviceId) {
  for (const ServiceInfo& service : MultiplexServices()) {
    if (service.serviceId == serviceId) {
      return service;
    }
  }
  throw std::invalid_argument("EIT for unknown service " + std::to_string(serviceId));
}

Event ScheduleEvent(const EitTableInfo& table, uint8_t sectionNumber, uint32_t indexInSection,
                    uint32_t positionInSegment) {
  const uint32_t tableIndex = table.tableId - EitScheduleFirstTableId;
  const uint32_t segment = sectionNumber / SectionsPerSegment;
  if ((positionInSegment + 1) * EventMinutes > SegmentMinutes) {
    throw std::invalid_argument("EIT plan: more events than a segment's three hours hold");
  }
  Event event;
  event.id = static_cast<uint16_t>(FirstEventId + (tableIndex << 8) + (sectionNumber << 4) +
                                   indexInSection);
  event.startMinute = tableIndex * DaysPerScheduleTable * MinutesPerDay + segment * SegmentMinutes +
                      positionInSegment * EventMinutes;
  char name[64];
  std::snprintf(name, sizeof(name), "%s day %u %02u:%02u", FindService(table.serviceId).name,
                event.startMinute / MinutesPerDay + 1, event.startMinute % MinutesPerDay / 60,
                event.startMinute % 60);
  event.name = name;
  const size_t length = MinTextLength + event.id * TextLengthStride % TextLengthSpread;
  while (event.text.size() < length) {
    event.text += TextPattern;
  }
  event.text.resize(length);
  event.runningStatus = RunningStatusUndefined;
  return event;
}

// The events of each transmitted section of a schedule table.
std::vector<std::vector<Event>> ScheduleEvents(const EitTableInfo& table) {
  std::vector<std::vector<Event>> sections;
  uint32_t segment = 0;
  uint32_t position = 0;
  for (const EitSectionInfo& section : table.sections) {
    if (section.sectionNumber / SectionsPerSegment != segment) {
      segment = section.sectionNumber / SectionsPerSegment;
      position = 0;
    }
    std::vector<Event>& events = sections.emplace_back();
    for (uint32_t i = 0; i < section.eventCount; i++) {
      events.push_back(ScheduleEvent(table, section.sectionNumber, i, position++));
    }
  }
  return sections;
}

// Present and following: the first two events of the first schedule segment.
std::vector<std::vector<Event>> PresentFollowingEvents(const EitTableInfo& table) {
  std::vector<Event> firstSegment;
  for (const EitTableInfo& schedule : MultiplexEitTables()) {
    if (schedule.serviceId == table.serviceId && schedule.tableId == EitScheduleFirstTableId) {
      const std::vector<std::vector<Event>> sections = ScheduleEvents(schedule);
      for (size_t i = 0;
           i < sections.size() && schedule.sections[i].sectionNumber < SectionsPerSegment; i++) {
        firstSegment.insert(firstSegment.end(), sections[i].begin(), sections[i].end());
      }
    }
  }
  if (firstSegment.size() < 2 || table.sections.size() != 2 || table.sections[0].eventCount != 1 ||
      table.sections[1].eventCount != 1) {
    throw std::invalid_argument(
        "EIT plan: present/following needs two sections of one event and two scheduled events");
  }
  firstSegment[0].runningStatus = RunningStatusRunning;
  firstSegment[1].runningStatus = RunningStatusNotRunning;
  return {{firstSegment[0]}, {firstSegment[1]}};
}

std::vector<uint8_t> ShortEventDescriptor(const Event& event) {
  std::vector<uint8_t> data(Language, Language + LanguageCodeSize);
  data.push_back(static_cast<uint8_t>(event.name.size()));
  data.insert(data.end(), event.name.begin(), event.name.end());
  data.push_back(static_cast<uint8_t>(event.text.size()));
  data.insert(data.end(), event.text.begin(), event.text.end());
  return data;
}

Section BuildSection(const DvbpsiHandle& handle, const EitTableInfo& table,
                     const EitSectionInfo& info, const std::vector<Event>& events) {
  dvbpsi_eit_t eit;
  dvbpsi_eit_init(&eit, table.tableId, table.serviceId, TableVersion, true, TransportStreamId,
                  OriginalNetworkId, info.segmentLastSectionNumber, table.lastTableId);
  for (const Event& event : events) {
    std::vector<uint8_t> descriptor = ShortEventDescriptor(event);
    dvbpsi_eit_event_t* entry = dvbpsi_eit_event_add(
        &eit, event.id, StartTime(event.startMinute), Duration(EventMinutes), event.runningStatus,
        false, static_cast<uint16_t>(DescriptorHeaderSize + descriptor.size()));
    if (entry == nullptr || dvbpsi_eit_event_descriptor_add(entry, ShortEventDescriptorTag,
                                                            static_cast<uint8_t>(descriptor.size()),
                                                            descriptor.data()) == nullptr) {
      dvbpsi_eit_empty(&eit);
      throw std::runtime_error("libdvbpsi: cannot build an EIT event");
    }
  }
  dvbpsi_psi_section_t* sections = dvbpsi_eit_sections_generate(handle.get(), &eit, table.tableId);
  dvbpsi_eit_empty(&eit);
  if (sections == nullptr || sections->p_next != nullptr) {
    dvbpsi_DeletePSISections(sections);
    throw std::runtime_error(
        "libdvbpsi: an EIT section of the plan did not come out as one section");
  }
  // libdvbpsi numbers the sections it makes from 0 and fills in
  // segment_last_section_number itself: give this one its place in the
  // sub-table and its segment, and a new CRC.
  sections->i_number = info.sectionNumber;
  sections->i_last_number = table.lastSectionNumber;
  sections->p_data[SegmentLastSectionNumberOffset] = info.segmentLastSectionNumber;
  dvbpsi_BuildPSISection(handle.get(), sections);
  return TakeSections(sections).front();
}

}  // namespace

std::vector<Section> BuildEit(const EitTableInfo& table) {
  const bool presentFollowing = table.tableId == EitPresentFollowingTableId;
  if (!presentFollowing &&
      (table.tableId < EitScheduleFirstTableId || table.tableId > table.lastTableId)) {
    throw std::invalid_argument("EIT plan: table id " + std::to_string(table.tableId) +
                                " out of range");
  }
  const std::vector<std::vector<Event>> events =
      presentFollowing ? PresentFollowingEvents(table) : ScheduleEvents(table);
  DvbpsiHandle handle;
  std::vector<Section> sections;
  for (size_t i = 0; i < table.sections.size(); i++) {
    sections.push_back(BuildSection(handle, table, table.sections[i], events[i]));
  }
  return sections;
}

}  // namespace sim
