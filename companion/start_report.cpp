// The failing step of a device start (see start_report.h).
#include "start_report.h"

#include <fmt/format.h>

namespace dtv {
namespace {

constexpr uint8_t DownloadRequest = 0xBC;
constexpr uint8_t ImageChunkRequest = 0xBB;

}  // namespace

std::string FailedStartStep(Host& host) {
  std::vector<emu::usb::ControlRecord> log = host.Port().ControlLog();
  if (log.empty()) {
    return "registering the control interface, before any request reached the device";
  }
  const emu::usb::ControlRecord& last = log.back();
  bool failed = last.status != USBD_STATUS_SUCCESS;
  std::string outcome = failed ? fmt::format(" (the device answered USBD status 0x{:08X})",
                                             static_cast<uint32_t>(last.status))
                               : "";
  const emu::usb::SetupPacket& setup = last.setup;
  switch (setup.requestType << 8 | setup.request) {
    case 0x8000 | USB_REQUEST_GET_DESCRIPTOR:
      if (setup.value >> 8 == USB_DEVICE_DESCRIPTOR_TYPE) {
        return "reading the device descriptor" + outcome;
      }
      return (failed ? "reading the configuration descriptor"
                     : fmt::format("checking the configuration descriptor ({} bytes received)",
                                   last.data.size())) +
             outcome;
    case 0x0000 | USB_REQUEST_SET_CONFIGURATION:
      return "selecting the configuration" + outcome;
    case 0x4000 | DownloadRequest:
      return "entering download mode" + outcome;
    case 0xC000 | DownloadRequest:
      return "polling the download status" + outcome;
    case 0x4000 | ImageChunkRequest: {
      size_t chunks = 0;
      size_t bytes = 0;
      for (const auto& record : log) {
        if (record.setup.requestType == 0x40 && record.setup.request == ImageChunkRequest) {
          chunks++;
          bytes += record.status == USBD_STATUS_SUCCESS ? record.data.size() : 0;
        }
      }
      return fmt::format("sending FPGA image chunk {} ({} bytes accepted before it)", chunks,
                         bytes) +
             outcome;
    }
    default:
      return fmt::format("request 0x{:02X}/0x{:02X}", setup.requestType, setup.request) + outcome;
  }
}

}  // namespace dtv
