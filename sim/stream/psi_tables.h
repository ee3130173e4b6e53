// The program-specific and service tables of the multiplex: PAT, PMTs and
// SDT, built from its published description.
#pragma once

#include <vector>

#include "stream/multiplex_plan.h"
#include "stream/psi_section.h"

namespace sim {

std::vector<Section> BuildPat();
std::vector<Section> BuildPmt(const ServiceInfo& service);
std::vector<Section> BuildSdt();

}  // namespace sim
