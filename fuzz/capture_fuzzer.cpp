// Fuzzes the analyses of the bulk completion path: an arbitrary byte stream,
// split into arbitrary transfer lengths, goes through the alignment and every
// analysis armed with parameters taken from the input; the results are read
// back as the property handlers would. Each transfer is its own allocation,
// so a read past a buffer shows under AddressSanitizer.
#include <cstdint>
#include <cstring>
#include <vector>

#include "capture/align.h"
#include "capture/guide_collector.h"
#include "capture/section_filter.h"
#include "capture/video_probe.h"
#include "host.h"
#include "kernel/kernel.h"

namespace {

constexpr size_t MaxTransfer = 24064;

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return position_ < size_ ? data_[position_++] : 0; }
  uint16_t Word() { return static_cast<uint16_t>(Byte() << 8 | Byte()); }
  size_t Remaining() const { return size_ - position_; }
  std::vector<uint8_t> Take(size_t count) {
    count = std::min(count, Remaining());
    std::vector<uint8_t> out(data_ + position_, data_ + position_ + count);
    position_ += count;
    return out;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

// One started device for the whole run; the driver is unloaded, and its leak
// checks run, when the process exits.
dtv::Host& TheHost() {
  static dtv::Host* host = [] {
    dtv::HostOptions options;
    std::string error;
    auto created = dtv::Host::Create(options, &error);
    if (created == nullptr || created->Start() != STATUS_SUCCESS) {
      std::abort();
    }
    return created.release();
  }();
  return *host;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  dtv::Host& host = TheHost();
  auto* device = static_cast<DeviceContext*>(host.Adapter().DeviceExtension());
  Input input(data, size);

  ArmSectionFilter(device, input.Word() & 0x1FFF, input.Byte(), input.Byte());
  ArmVideoProbe(device, input.Word() & 0x1FFF);
  uint16_t service = input.Word();
  StartGuideCollection(device, service, input.Byte() & 1);
  device->Recording.CarryCount = 0;

  while (input.Remaining() > 0) {
    size_t length = 1 + input.Word() % MaxTransfer;
    std::vector<uint8_t> transfer = input.Take(length);
    emu::IrqlScope dispatch(DISPATCH_LEVEL);
    if (AnalysisArmed(device)) {
      AnalyzeCapturedBuffer(device, transfer.data(), static_cast<ULONG>(transfer.size()));
    }
  }

  std::vector<uint8_t> section(5000);
  ULONG needed = 0;
  if (ReadCaughtSection(device, section.data(), static_cast<ULONG>(section.size()), &needed) ==
      STATUS_SUCCESS) {
    uint32_t length;
    std::memcpy(&length, section.data(), 4);
    if (length + 7 != needed || length > 4096) {
      std::abort();
    }
  }
  ReadVideoInfo(device);
  std::vector<uint8_t> result(GuideResultSize);
  ULONG resultLength = ReadGuideResult(device, result.data());
  // The result is a chain of length-prefixed sections filling it exactly.
  size_t at = 0;
  while (at < resultLength) {
    at += 2 + (result[at] | result[at + 1] << 8);
  }
  if (at != resultLength || resultLength > GuideResultSize) {
    std::abort();
  }
  ArmVideoProbe(device, 0x1FFF);
  return 0;
}
