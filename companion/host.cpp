// The emulated machine (see host.h).
#include "host.h"

#include "adapter/dispatch.h"
#include "control/control_interface.h"
#include "kernel/kernel.h"
#include "stream/file_source.h"
#include "stream/multiplex.h"

namespace dtv {

std::vector<std::string> PresenceKeys() { return {PRESENCE_ARRIVAL_KEY, PRESENCE_DEPARTURE_KEY}; }

std::unique_ptr<Host> Host::Create(const HostOptions& options, std::string* error,
                                   std::unique_ptr<sim::TsSource> source) {
  if (source == nullptr && options.inputPath.empty()) {
    sim::MultiplexConfig config;
    config.seconds = options.multiplexSeconds;
    source = sim::Multiplex::Create(config, error);
    if (source == nullptr) {
      return nullptr;
    }
  } else if (source == nullptr) {
    source = sim::FileSource::Open(options.inputPath, error);
    if (source == nullptr) {
      return nullptr;
    }
  }
  emu::DebugLog::SetEcho(options.echoDebug);
  for (const std::string& key : options.registryKeys) {
    emu::Registry::CreateKey(key);
  }
  std::unique_ptr<Host> host(new Host);
  host->driver_ = std::make_unique<emu::Minidriver>(DriverEntry);
  if (!NT_SUCCESS(host->driver_->EntryStatus())) {
    *error = "DriverEntry failed";
    return nullptr;
  }
  host->receiver_ = std::make_unique<sim::Receiver>(options.receiver, std::move(source));
  host->port_ = std::make_unique<emu::usb::UsbPort>(*host->receiver_);
  host->adapter_ = std::make_unique<emu::Adapter>(*host->driver_, host->port_->PhysicalDevice());
  return host;
}

Host::~Host() {
  if (adapter_ != nullptr && adapter_->Started()) {
    adapter_->Stop();
  }
  adapter_.reset();
  port_.reset();
  receiver_.reset();
  driver_.reset();
}

NTSTATUS Host::Start(ULONG accessRanges) { return adapter_->Start(accessRanges); }

NTSTATUS Host::Stop() { return adapter_->Stop(); }

}  // namespace dtv
