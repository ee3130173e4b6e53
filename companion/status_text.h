// Names of the NTSTATUS values the driver and the platform report.
#pragma once

#include <cstdint>
#include <string>

namespace dtv {

// "STATUS_SUCCESS", or the value in hex when it has no name here.
std::string StatusName(int32_t status);

}  // namespace dtv
