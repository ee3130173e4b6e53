// The emulated machine the companion runs against: the driver loaded into
// the stream class emulation, the simulated receiver plugged into the USB
// bus, and the adapter on the receiver's physical device object. Tests, the
// benchmarks and dtvctl all build it the same way.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "receiver.h"
#include "streamclass/stream_class.h"
#include "usb/usb_bus.h"

namespace dtv {

struct HostOptions {
  sim::ReceiverOptions receiver;
  // Transport stream the receiver plays: a .ts file, or empty for the
  // built-in multiplex (endless unless multiplexSeconds is set).
  std::string inputPath;
  double multiplexSeconds = 0;
  // Registry keys created before the driver starts, as the companion
  // application does for the presence values.
  std::vector<std::string> registryKeys;
  // Copy the driver's debug lines to stderr as they are printed.
  bool echoDebug = false;
};

class Host {
 public:
  // Null with a message when the input cannot be opened. A source given
  // here replaces the one the options name.
  static std::unique_ptr<Host> Create(const HostOptions& options, std::string* error,
                                      std::unique_ptr<sim::TsSource> source = nullptr);
  // Stops a started adapter, removes it and the device, unloads the driver;
  // the platform's leak checks run at unload.
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  NTSTATUS Start(ULONG accessRanges = 0);
  NTSTATUS Stop();

  emu::Minidriver& Driver() { return *driver_; }
  emu::Adapter& Adapter() { return *adapter_; }
  sim::Receiver& Receiver() { return *receiver_; }
  emu::usb::UsbPort& Port() { return *port_; }

 private:
  Host() = default;
  std::unique_ptr<emu::Minidriver> driver_;
  std::unique_ptr<sim::Receiver> receiver_;
  std::unique_ptr<emu::usb::UsbPort> port_;
  std::unique_ptr<emu::Adapter> adapter_;
};

// The presence keys the companion application creates.
std::vector<std::string> PresenceKeys();

}  // namespace dtv
