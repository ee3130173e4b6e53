// PSI/SI sections as bytes, and the bridge to libdvbpsi's table generators.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct dvbpsi_s;
struct dvbpsi_psi_section_s;

namespace sim {

// A whole section, from table_id to CRC_32.
using Section = std::vector<uint8_t>;

// The libdvbpsi handle its generators take; they use it only to report.
class DvbpsiHandle {
 public:
  DvbpsiHandle();
  ~DvbpsiHandle();
  DvbpsiHandle(const DvbpsiHandle&) = delete;
  DvbpsiHandle& operator=(const DvbpsiHandle&) = delete;

  dvbpsi_s* get() const { return handle_; }

 private:
  dvbpsi_s* handle_;
};

// Copies a list of generated sections and frees it.
std::vector<Section> TakeSections(dvbpsi_psi_section_s* sections);

}  // namespace sim
