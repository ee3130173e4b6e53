// The --sim KEY=VALUE options of dtvctl: how the simulated receiver should
// misbehave. SimOptionsHelp() lists the keys.
#pragma once

#include <string>

#include "receiver.h"

namespace dtv {

// Applies one KEY=VALUE; false with a message for an unknown key or a bad value.
bool ApplySimOption(const std::string& option, sim::ReceiverOptions* options, std::string* error);

std::string SimOptionsHelp();

}  // namespace dtv
