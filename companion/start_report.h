// Which step of the device start failed, told from the control transfers the
// driver had sent when it gave up.
#pragma once

#include <string>

#include "host.h"

namespace dtv {

std::string FailedStartStep(Host& host);

}  // namespace dtv
