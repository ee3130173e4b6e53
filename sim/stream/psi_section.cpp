// Bridge to libdvbpsi's generated sections.
#include "stream/psi_section.h"

#include <stdexcept>

#include "stream/libdvbpsi.h"

namespace sim {
namespace {

constexpr size_t SectionHeaderSize = 3;  // table_id and section_length

}  // namespace

DvbpsiHandle::DvbpsiHandle() : handle_(dvbpsi_new(nullptr, DVBPSI_MSG_NONE)) {
  if (handle_ == nullptr) {
    throw std::runtime_error("libdvbpsi: cannot create a handle");
  }
}

DvbpsiHandle::~DvbpsiHandle() { dvbpsi_delete(handle_); }

std::vector<Section> TakeSections(dvbpsi_psi_section_s* sections) {
  if (sections == nullptr) {
    throw std::runtime_error("libdvbpsi: no section generated");
  }
  std::vector<Section> result;
  for (const dvbpsi_psi_section_t* s = sections; s != nullptr; s = s->p_next) {
    result.emplace_back(s->p_data, s->p_data + SectionHeaderSize + s->i_length);
  }
  dvbpsi_DeletePSISections(sections);
  return result;
}

}  // namespace sim
