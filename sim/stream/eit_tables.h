// The EIT sub-tables of the multiplex's guide (ETSI EN 300 468, 5.2.4), made
// to its published plan: present/following and schedule sections whose
// events carry a short event descriptor.
#pragma once

#include <vector>

#include "stream/multiplex_plan.h"
#include "stream/psi_section.h"

namespace sim {

// The transmitted sections of `table`, in ascending section number.
std::vector<Section> BuildEit(const EitTableInfo& table);

}  // namespace sim
