// The simulated receiver (see receiver.h). The microcontroller dispatches on
// (bmRequestType, bRequest) in one switch; anything it does not know stalls.
#include "receiver.h"

#include <algorithm>
#include <cstring>

#include "fpga_image.h"

namespace sim {
namespace {

using emu::usb::BulkReply;
using emu::usb::Completion;
using emu::usb::ControlReply;
using emu::usb::SetupPacket;

constexpr uint8_t DownloadRequest = 0xBC;
constexpr uint16_t DownloadModeValue = 0x00AA;
constexpr uint8_t ImageChunkRequest = 0xBB;
constexpr uint8_t ReadyBit = 0x80;
constexpr size_t PacketBytes = 188;
constexpr uint8_t VendorDescriptorType = 0x41;
constexpr uint8_t VendorDescriptorLength = 200;
constexpr int VendorDescriptors = 3;

ControlReply Stall() { return ControlReply{USBD_STATUS_STALL_PID, 0, Completion::Immediate}; }

ControlReply Accept(size_t length) {
  return ControlReply{USBD_STATUS_SUCCESS, length, Completion::Immediate};
}

void Put16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void AddEndpoint(std::vector<uint8_t>& out, uint8_t address, uint8_t attributes,
                 uint16_t maxPacket) {
  out.insert(out.end(), {7, 0x05, address, attributes});
  Put16(out, maxPacket);
  out.push_back(attributes == 0x03 ? 8 : 0);
}

std::vector<uint8_t> BuildConfiguration(ConfigurationShape shape, uint8_t* streamEndpoint) {
  std::vector<uint8_t> out = {9, 0x02, 0, 0, 1, 1, 0, 0x80, 250};
  if (shape == ConfigurationShape::NoInterface) {
    out[4] = 0;
  } else {
    uint8_t endpoints = shape == ConfigurationShape::TwoBulkPipes ? 2 : 1;
    out.insert(out.end(), {9, 0x04, 0, 0, endpoints, 0xFF, 0, 0, 0});
    switch (shape) {
      case ConfigurationShape::NoBulkPipe:
        AddEndpoint(out, 0x83, 0x03, 64);
        *streamEndpoint = 0;
        break;
      case ConfigurationShape::TwoBulkPipes:
        AddEndpoint(out, 0x81, 0x02, 512);
        AddEndpoint(out, 0x82, 0x02, 512);
        *streamEndpoint = 0x82;
        break;
      default:
        AddEndpoint(out, 0x82, 0x02, 512);
        *streamEndpoint = 0x82;
        break;
    }
    if (shape == ConfigurationShape::Large) {
      for (int i = 0; i < VendorDescriptors; i++) {
        out.push_back(VendorDescriptorLength);
        out.push_back(VendorDescriptorType);
        out.insert(out.end(), VendorDescriptorLength - 2, static_cast<uint8_t>(i));
      }
    }
  }
  out[2] = static_cast<uint8_t>(out.size());
  out[3] = static_cast<uint8_t>(out.size() >> 8);
  return out;
}

}  // namespace

Receiver::Receiver(const ReceiverOptions& options, std::unique_ptr<TsSource> source)
    : options_(options), source_(std::move(source)), random_(options.seed),
      skipLeft_(options.skipBytes) {
  deviceDescriptor_ = {18, 0x01, 0x00, 0x02, 0xFF, 0x00, 0xFF, 64};
  Put16(deviceDescriptor_, options.vendorId);
  Put16(deviceDescriptor_, options.productId);
  Put16(deviceDescriptor_, 0x0100);
  deviceDescriptor_.insert(deviceDescriptor_.end(), {0, 0, 0, 1});
  configurationDescriptor_ = BuildConfiguration(options.shape, &streamEndpoint_);
}

ControlReply Receiver::Control(const SetupPacket& setup, uint8_t* data) {
  std::lock_guard<std::mutex> lock(mutex_);
  int number = ++controlTransfers_;
  if (number == options_.failRequest) {
    return Stall();
  }
  if (number == options_.hangRequest) {
    return ControlReply{USBD_STATUS_SUCCESS, 0, Completion::Never};
  }
  ControlReply reply = Microcontroller(setup, data);
  if (number == options_.shortRequest && (setup.requestType & 0x80) != 0) {
    reply.length /= 2;
  }
  if (options_.deferCompletion) {
    reply.completion = Completion::Deferred;
  }
  return reply;
}

ControlReply Receiver::Microcontroller(const SetupPacket& setup, uint8_t* data) {
  switch (setup.requestType << 8 | setup.request) {
    case 0x8000 | USB_REQUEST_GET_DESCRIPTOR: {
      const std::vector<uint8_t>* descriptor = nullptr;
      size_t available = 0;
      if (setup.value >> 8 == USB_DEVICE_DESCRIPTOR_TYPE) {
        descriptor = &deviceDescriptor_;
        available = descriptor->size();
      } else if (setup.value >> 8 == USB_CONFIGURATION_DESCRIPTOR_TYPE) {
        descriptor = &configurationDescriptor_;
        available = options_.emptyConfiguration      ? 0
                    : options_.truncatedConfiguration ? sizeof(USB_CONFIGURATION_DESCRIPTOR)
                                                      : descriptor->size();
      } else {
        return Stall();
      }
      size_t length = std::min<size_t>(available, setup.length);
      std::memcpy(data, descriptor->data(), length);
      return Accept(length);
    }
    case 0x0000 | USB_REQUEST_SET_CONFIGURATION:
      configuration_ = static_cast<uint8_t>(setup.value);
      return Accept(0);
    case 0x4000 | DownloadRequest:
      if (setup.value != DownloadModeValue) {
        return Stall();
      }
      downloadMode_ = true;
      polls_ = 0;
      chunks_ = 0;
      image_.clear();
      imageBroken_ = false;
      fpgaConfigured_ = false;
      return Accept(setup.length);
    case 0xC000 | DownloadRequest: {
      polls_++;
      if (options_.pollWithoutData || setup.length == 0) {
        return Accept(0);
      }
      bool ready = options_.readyAfterPolls > 0 && polls_ >= options_.readyAfterPolls;
      data[0] = ready ? ReadyBit : 0;
      return Accept(1);
    }
    case 0x4000 | ImageChunkRequest:
      if (!downloadMode_ || chunks_ + 1 == options_.refuseChunk) {
        imageBroken_ = true;
        return Stall();
      }
      chunks_++;
      image_.insert(image_.end(), data, data + setup.length);
      if (image_.size() > FpgaImageBytes) {
        imageBroken_ = true;
      }
      fpgaConfigured_ = !imageBroken_ && FpgaImageIsIntact(image_.data(), image_.size());
      return Accept(setup.length);
    default:
      return Stall();
  }
}

size_t Receiver::ReadStream(uint8_t* buffer, size_t length) {
  size_t produced = 0;
  bool plain = options_.garbagePercent == 0 && skipLeft_ == 0;
  while (produced < length) {
    if (pending_.empty()) {
      if (plain) {
        size_t n = source_->Read(buffer + produced, length - produced);
        exhausted_ = n == 0;
        return produced + n;
      }
      uint8_t packet[PacketBytes];
      size_t n = source_->Read(packet, sizeof(packet));
      if (n == 0) {
        exhausted_ = true;
        break;
      }
      size_t skip = std::min(skipLeft_, n);
      skipLeft_ -= skip;
      pending_.insert(pending_.end(), packet + skip, packet + n);
      if (options_.garbagePercent != 0 &&
          static_cast<int>(random_() % 100) < options_.garbagePercent) {
        size_t stray = 1 + random_() % 20;
        for (size_t i = 0; i < stray; i++) {
          pending_.push_back(static_cast<uint8_t>(random_()));
        }
      }
      plain = options_.garbagePercent == 0 && skipLeft_ == 0;
      continue;
    }
    size_t n = std::min(pending_.size(), length - produced);
    std::memcpy(buffer + produced, pending_.data(), n);
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
    produced += n;
  }
  return produced;
}

BulkReply Receiver::BulkIn(uint8_t endpoint, uint8_t* buffer, size_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (endpoint != streamEndpoint_) {
    return BulkReply{BulkReply::Kind::Failed, 0, STATUS_UNSUCCESSFUL, USBD_STATUS_STALL_PID};
  }
  if (gone_) {
    return BulkReply{BulkReply::Kind::Failed, 0, STATUS_DEVICE_NOT_CONNECTED,
                     USBD_STATUS_DEVICE_GONE};
  }
  if (!fpgaConfigured_ || length == 0) {
    return BulkReply{};
  }
  if (options_.bulkErrorsPercent != 0 &&
      static_cast<int>(random_() % 100) < options_.bulkErrorsPercent) {
    return BulkReply{BulkReply::Kind::Failed, 0, STATUS_DEVICE_DATA_ERROR, USBD_STATUS_CRC};
  }
  size_t want = length;
  if (options_.shortTransfersPercent != 0 &&
      static_cast<int>(random_() % 100) < options_.shortTransfersPercent) {
    want = 1 + random_() % length;
  }
  if (options_.paceBytesPerSecond != 0) {
    auto now = std::chrono::steady_clock::now();
    if (!paceStart_) {
      paceStart_ = now;
    }
    double elapsed = std::chrono::duration<double>(now - *paceStart_).count();
    if (elapsed * static_cast<double>(options_.paceBytesPerSecond) <
        static_cast<double>(streamed_ + want)) {
      return BulkReply{};
    }
  }
  if (options_.disconnectAfter != 0) {
    want = static_cast<size_t>(std::min<uint64_t>(want, options_.disconnectAfter - streamed_));
    if (want == 0) {
      gone_ = true;
      return BulkReply{BulkReply::Kind::Failed, 0, STATUS_DEVICE_NOT_CONNECTED,
                       USBD_STATUS_DEVICE_GONE};
    }
  }
  size_t produced = ReadStream(buffer, want);
  if (produced == 0) {
    return BulkReply{};
  }
  streamed_ += produced;
  return BulkReply{BulkReply::Kind::Data, produced, STATUS_SUCCESS, USBD_STATUS_SUCCESS};
}

bool Receiver::FpgaConfigured() {
  std::lock_guard<std::mutex> lock(mutex_);
  return fpgaConfigured_;
}

int Receiver::StatusPolls() {
  std::lock_guard<std::mutex> lock(mutex_);
  return polls_;
}

int Receiver::ChunksAccepted() {
  std::lock_guard<std::mutex> lock(mutex_);
  return chunks_;
}

size_t Receiver::ImageBytesReceived() {
  std::lock_guard<std::mutex> lock(mutex_);
  return image_.size();
}

uint8_t Receiver::Configuration() {
  std::lock_guard<std::mutex> lock(mutex_);
  return configuration_;
}

uint64_t Receiver::BytesStreamed() {
  std::lock_guard<std::mutex> lock(mutex_);
  return streamed_;
}

bool Receiver::SourceExhausted() {
  std::lock_guard<std::mutex> lock(mutex_);
  return exhausted_ && pending_.empty();
}

}  // namespace sim
