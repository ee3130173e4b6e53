// The simulated receiver: a USB device with a microcontroller that answers
// the standard and vendor requests on its default pipe, an FPGA configured
// only by a complete, well-formed image sent in order, and a bulk IN pipe
// that carries a transport stream once the FPGA runs. It can be told to
// misbehave, so tests reach every failure path of the driver.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "stream/ts_source.h"
#include "usb/usb_bus.h"

namespace sim {

// Shapes of the configuration descriptor the device presents.
enum class ConfigurationShape {
  Standard,      // one interface, one bulk IN pipe
  Large,         // as Standard, padded with a class descriptor beyond 521 bytes
  NoInterface,   // no interface descriptor at all
  NoBulkPipe,    // one interface with an interrupt pipe only
  TwoBulkPipes,  // bulk IN 0x81 then bulk IN 0x82 (the stream is on the later)
};

struct ReceiverOptions {
  uint16_t vendorId = 0xF0D7;  // a test vendor id of our own
  uint16_t productId = 0x2001;
  ConfigurationShape shape = ConfigurationShape::Standard;
  // Polls after which the download status reports ready; 0: never.
  int readyAfterPolls = 1;
  // The status poll answers without a data byte.
  bool pollWithoutData = false;
  // Image chunk (from 1) that the microcontroller refuses; 0: none.
  int refuseChunk = 0;
  // Control transfer (counted from 1 over all of them) that fails, that
  // answers short, or that never completes; 0: none.
  int failRequest = 0;
  int shortRequest = 0;
  int hangRequest = 0;
  // Configuration descriptor replies: none at all, or cut after 9 bytes.
  bool emptyConfiguration = false;
  bool truncatedConfiguration = false;
  // Control transfers complete from another thread instead of at once.
  bool deferCompletion = false;

  // Bulk pipe.
  uint32_t seed = 1;
  int shortTransfersPercent = 0;  // transfers cut to a random length
  int bulkErrorsPercent = 0;      // transfers failing with a data error
  int garbagePercent = 0;         // packets followed by a few stray bytes
  size_t skipBytes = 0;           // the stream starts this far into the source
  uint64_t disconnectAfter = 0;   // bytes after which the device is gone; 0: never
  // Deliver the stream at this rate, as a tuner does, a full transfer at a
  // time; 0: as fast as the host asks.
  uint64_t paceBytesPerSecond = 0;
};

class Receiver : public emu::usb::UsbDevice {
 public:
  Receiver(const ReceiverOptions& options, std::unique_ptr<TsSource> source);

  emu::usb::ControlReply Control(const emu::usb::SetupPacket& setup, uint8_t* data) override;
  emu::usb::BulkReply BulkIn(uint8_t endpoint, uint8_t* buffer, size_t length) override;

  // Observations.
  bool FpgaConfigured();
  int StatusPolls();
  int ChunksAccepted();
  size_t ImageBytesReceived();
  uint8_t Configuration();
  uint64_t BytesStreamed();
  bool SourceExhausted();
  std::vector<uint8_t> DeviceDescriptor() const { return deviceDescriptor_; }
  std::vector<uint8_t> ConfigurationDescriptor() const { return configurationDescriptor_; }
  uint8_t StreamEndpoint() const { return streamEndpoint_; }

 private:
  emu::usb::ControlReply Microcontroller(const emu::usb::SetupPacket& setup, uint8_t* data);
  size_t ReadStream(uint8_t* buffer, size_t length);

  ReceiverOptions options_;
  std::unique_ptr<TsSource> source_;
  std::vector<uint8_t> deviceDescriptor_;
  std::vector<uint8_t> configurationDescriptor_;
  uint8_t streamEndpoint_ = 0x82;

  std::mutex mutex_;
  int controlTransfers_ = 0;
  uint8_t configuration_ = 0;
  bool downloadMode_ = false;
  int polls_ = 0;
  int chunks_ = 0;
  bool imageBroken_ = false;
  std::vector<uint8_t> image_;
  bool fpgaConfigured_ = false;

  std::mt19937 random_;
  std::vector<uint8_t> pending_;  // stream bytes produced but not yet sent
  size_t skipLeft_ = 0;
  uint64_t streamed_ = 0;
  std::optional<std::chrono::steady_clock::time_point> paceStart_;
  bool exhausted_ = false;
  bool gone_ = false;
};

}  // namespace sim
