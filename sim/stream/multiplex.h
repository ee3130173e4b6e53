// The built-in DVB multiplex: a deterministic transport stream of two
// television services with their tables and guide, made packet by packet
// at a fixed rate (see multiplex_plan.h for what it carries).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "stream/multiplex_plan.h"
#include "stream/ts_packet.h"
#include "stream/ts_source.h"

namespace sim {

class PacketScheduler;

struct MultiplexConfig {
  // Length of the stream; 0 is endless. The stream holds this many seconds
  // of packets at MultiplexPacketsPerSecond, rounded to the nearest packet.
  double seconds = 0;
};

class Multiplex : public TsSource {
 public:
  static constexpr double MaxSeconds = 1e9;

  // Throws std::invalid_argument for a length that is negative, not a
  // number, or above MaxSeconds.
  explicit Multiplex(const MultiplexConfig& config);
  // As the constructor, but reports a bad config in `error` and returns null.
  static std::unique_ptr<Multiplex> Create(const MultiplexConfig& config, std::string* error);
  ~Multiplex() override;

  size_t Read(uint8_t* out, size_t size) override;

  // The stream's length in bytes; 0 for an endless stream.
  uint64_t TotalBytes() const { return endless_ ? 0 : totalPackets_ * TsPacketSize; }

 private:
  std::unique_ptr<PacketScheduler> scheduler_;
  bool endless_;
  uint64_t totalPackets_;
  uint64_t packetsMade_ = 0;
  std::array<uint8_t, TsPacketSize> packet_{};
  size_t packetRead_ = TsPacketSize;  // bytes of packet_ already handed out
};

}  // namespace sim
