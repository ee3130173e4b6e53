// Parsing of --sim KEY=VALUE (see sim_options.h).
#include "sim_options.h"

#include <functional>
#include <limits>
#include <map>

#include "number_text.h"

namespace dtv {
namespace {

using Setter = std::function<bool(const std::string&, sim::ReceiverOptions*)>;

struct Key {
  const char* help;
  Setter set;
};

template <typename T>
Setter Number(T sim::ReceiverOptions::*field, uint64_t max) {
  return [field, max](const std::string& text, sim::ReceiverOptions* options) {
    uint64_t value;
    if (!ParseNumber(text, &value) || value > max) {
      return false;
    }
    options->*field = static_cast<T>(value);
    return true;
  };
}

Setter Flag(bool sim::ReceiverOptions::*field) {
  return [field](const std::string& text, sim::ReceiverOptions* options) {
    if (text != "" && text != "1" && text != "0" && text != "yes" && text != "no") {
      return false;
    }
    options->*field = text == "" || text == "1" || text == "yes";
    return true;
  };
}

const std::map<std::string, Key>& Keys() {
  static const std::map<std::string, Key> keys = {
      {"vendor-id", {"USB vendor id of the device", Number(&sim::ReceiverOptions::vendorId, 0xFFFF)}},
      {"product-id", {"USB product id", Number(&sim::ReceiverOptions::productId, 0xFFFF)}},
      {"shape",
       {"configuration: standard, large (over 521 bytes), no-interface, no-bulk-pipe, "
        "two-bulk-pipes",
        [](const std::string& text, sim::ReceiverOptions* options) {
          static const std::map<std::string, sim::ConfigurationShape> shapes = {
              {"standard", sim::ConfigurationShape::Standard},
              {"large", sim::ConfigurationShape::Large},
              {"no-interface", sim::ConfigurationShape::NoInterface},
              {"no-bulk-pipe", sim::ConfigurationShape::NoBulkPipe},
              {"two-bulk-pipes", sim::ConfigurationShape::TwoBulkPipes}};
          auto it = shapes.find(text);
          if (it == shapes.end()) {
            return false;
          }
          options->shape = it->second;
          return true;
        }}},
      {"ready-after", {"download status polls until ready (0: never)",
                       Number(&sim::ReceiverOptions::readyAfterPolls, 1000000)}},
      {"never-ready", {"the download status never reports ready",
                       [](const std::string& text, sim::ReceiverOptions* options) {
                         options->readyAfterPolls = 0;
                         return text.empty();
                       }}},
      {"poll-without-data", {"the status poll answers without a data byte",
                             Flag(&sim::ReceiverOptions::pollWithoutData)}},
      {"refuse-chunk", {"image chunk N (from 1) is refused",
                        Number(&sim::ReceiverOptions::refuseChunk, 1000000)}},
      {"fail-request", {"control transfer N (from 1) fails",
                        Number(&sim::ReceiverOptions::failRequest, 1000000)}},
      {"short-request", {"control transfer N answers with half the bytes",
                         Number(&sim::ReceiverOptions::shortRequest, 1000000)}},
      {"hang-request", {"control transfer N never completes",
                        Number(&sim::ReceiverOptions::hangRequest, 1000000)}},
      {"empty-config", {"configuration descriptor replies carry no byte",
                        Flag(&sim::ReceiverOptions::emptyConfiguration)}},
      {"truncated-config", {"configuration descriptor replies stop after 9 bytes",
                            Flag(&sim::ReceiverOptions::truncatedConfiguration)}},
      {"deferred", {"control transfers complete from another thread",
                    Flag(&sim::ReceiverOptions::deferCompletion)}},
      {"seed", {"seed of the bulk pipe's misbehaviour",
                Number(&sim::ReceiverOptions::seed, std::numeric_limits<uint32_t>::max())}},
      {"short-transfers", {"PERCENT of bulk transfers cut to a random length",
                           Number(&sim::ReceiverOptions::shortTransfersPercent, 100)}},
      {"bulk-errors", {"PERCENT of bulk transfers failing with a data error",
                       Number(&sim::ReceiverOptions::bulkErrorsPercent, 100)}},
      {"garbage", {"PERCENT of packets followed by stray bytes",
                   Number(&sim::ReceiverOptions::garbagePercent, 100)}},
      {"skip", {"the stream starts BYTES into the source (mid-packet)",
                Number(&sim::ReceiverOptions::skipBytes, std::numeric_limits<uint32_t>::max())}},
      {"pace", {"deliver BYTES a second, as a tuner does (0: as fast as asked; the built-in "
                "multiplex plays at its own rate by default)",
                Number(&sim::ReceiverOptions::paceBytesPerSecond,
                       std::numeric_limits<uint32_t>::max())}},
      {"disconnect-after", {"the device is gone after BYTES of stream",
                            Number(&sim::ReceiverOptions::disconnectAfter,
                                   std::numeric_limits<uint64_t>::max())}},
  };
  return keys;
}

}  // namespace

bool ApplySimOption(const std::string& option, sim::ReceiverOptions* options, std::string* error) {
  size_t equals = option.find('=');
  std::string key = option.substr(0, equals);
  std::string value = equals == std::string::npos ? "" : option.substr(equals + 1);
  auto it = Keys().find(key);
  if (it == Keys().end()) {
    *error = "unknown --sim key '" + key + "' (see --help)";
    return false;
  }
  if (!it->second.set(value, options)) {
    *error = "bad value '" + value + "' for --sim " + key;
    return false;
  }
  return true;
}

std::string SimOptionsHelp() {
  std::string text = "Keys of --sim KEY=VALUE (the simulated receiver):\n";
  for (const auto& [key, entry] : Keys()) {
    text += "  " + key;
    text += std::string(key.size() < 20 ? 20 - key.size() : 1, ' ');
    text += entry.help;
    text += "\n";
  }
  return text;
}

}  // namespace dtv
