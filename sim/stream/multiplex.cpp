// The built-in multiplex as a source of bytes.
#include "stream/multiplex.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "stream/packet_scheduler.h"

namespace sim {
namespace {

// Empty when the config is good, else what is wrong with it.
std::string CheckConfig(const MultiplexConfig& config) {
  if (!std::isfinite(config.seconds) || config.seconds < 0 ||
      config.seconds > Multiplex::MaxSeconds) {
    return fmt::format("multiplex length must be between 0 (endless) and {} seconds, not {}",
                       Multiplex::MaxSeconds, config.seconds);
  }
  return {};
}

const MultiplexConfig& Checked(const MultiplexConfig& config) {
  const std::string error = CheckConfig(config);
  if (!error.empty()) {
    throw std::invalid_argument(error);
  }
  return config;
}

}  // namespace

Multiplex::Multiplex(const MultiplexConfig& config)
    : scheduler_(std::make_unique<PacketScheduler>()),
      endless_(Checked(config).seconds == 0),
      totalPackets_(
          static_cast<uint64_t>(std::llround(config.seconds * MultiplexPacketsPerSecond))) {}

std::unique_ptr<Multiplex> Multiplex::Create(const MultiplexConfig& config, std::string* error) {
  const std::string problem = CheckConfig(config);
  if (!problem.empty()) {
    if (error != nullptr) {
      *error = problem;
    }
    return nullptr;
  }
  return std::make_unique<Multiplex>(config);
}

Multiplex::~Multiplex() = default;

size_t Multiplex::Read(uint8_t* out, size_t size) {
  if (out == nullptr && size > 0) {
    throw std::invalid_argument("Multiplex::Read: null buffer");
  }
  size_t copied = 0;
  while (copied < size) {
    if (packetRead_ == TsPacketSize) {
      if (!endless_ && packetsMade_ == totalPackets_) {
        break;
      }
      packetsMade_++;
      if (size - copied >= TsPacketSize) {
        scheduler_->WritePacket(out + copied);
        copied += TsPacketSize;
        continue;
      }
      scheduler_->WritePacket(packet_.data());
      packetRead_ = 0;
    }
    const size_t count = std::min(TsPacketSize - packetRead_, size - copied);
    std::memcpy(out + copied, packet_.data() + packetRead_, count);
    packetRead_ += count;
    copied += count;
  }
  return copied;
}

}  // namespace sim
