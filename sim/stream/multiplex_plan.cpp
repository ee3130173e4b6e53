// The services and guide plan of the built-in multiplex.
#include "stream/multiplex_plan.h"

namespace sim {

const std::vector<ServiceInfo>& MultiplexServices() {
  static const std::vector<ServiceInfo> services = {
      {0x0101, 0x0100, 0x0111, 0x0112, 0x0111, 720, 576, 3, "Test Card One", "Sim Broadcast"},
      {0x0102, 0x0200, 0x0211, 0x0212, 0x0211, 544, 576, 2, "Test Card Two", "Sim Broadcast"},
  };
  return services;
}

const std::vector<EitTableInfo>& MultiplexEitTables() {
  constexpr uint8_t Pf = EitPresentFollowingTableId;
  constexpr uint8_t Last = EitScheduleLastTableId;
  // Sections are {section_number, segment_last_section_number, events}. The
  // last section of each sub-table is numbered last_section_number.
  static const std::vector<EitTableInfo> tables = {
      {0x0101, Pf, 1, Pf, {{0, 1, 1}, {1, 1, 1}}},
      // The first segment stops at 2: 3 to 7 are never sent.
      {0x0101,
       0x50,
       15,
       Last,
       {{0, 2, 4},
        {1, 2, 2},
        {2, 2, 1},
        {8, 15, 2},
        {9, 15, 1},
        {10, 15, 1},
        {11, 15, 1},
        {12, 15, 1},
        {13, 15, 1},
        {14, 15, 1},
        {15, 15, 1}}},
      // One section for the first segment, two for the last.
      {0x0101, 0x51, 9, Last, {{0, 0, 2}, {8, 9, 1}, {9, 9, 1}}},
      {0x0102, Pf, 1, Pf, {{0, 1, 1}, {1, 1, 1}}},
      // A full first segment, then a segment of one section.
      {0x0102,
       0x50,
       8,
       Last,
       {{0, 7, 1},
        {1, 7, 1},
        {2, 7, 1},
        {3, 7, 1},
        {4, 7, 1},
        {5, 7, 1},
        {6, 7, 1},
        {7, 7, 1},
        {8, 8, 3}}},
      // The first segment stops at 1; the last one is empty, stood for by a
      // section without events.
      {0x0102, 0x51, 8, Last, {{0, 1, 2}, {1, 1, 1}, {8, 8, 0}}},
  };
  return tables;
}

}  // namespace sim
