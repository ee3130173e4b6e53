// dtvctl info: the filter as an application sees it, and the device.
#include <iostream>

#include "commands.h"
#include "filter_description.h"

namespace dtv {

int RunInfo(const GlobalOptions& global) {
  int exitCode = 0;
  std::unique_ptr<Host> host = StartHost(global, &exitCode);
  if (host == nullptr) {
    return exitCode;
  }
  FilterInfo filter = DescribeFilter(host->Adapter().Descriptor());
  DeviceReport device = DescribeDevice(*host);
  if (global.json) {
    nlohmann::json out = ToJson(filter);
    out.update(ToJson(device));
    std::cout << out.dump(2) << "\n";
  } else {
    std::cout << ToText(filter) << ToText(device);
  }
  return 0;
}

}  // namespace dtv
