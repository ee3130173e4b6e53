// End-to-end capture through the whole emulated stack: reads outstanding on
// the pin, bulk transfers filled and completed by the host controller
// thread, every analysis armed, and the consumer discarding the data. The
// receiver replays a stretch of the built-in multiplex from memory so the
// figure is the stack's, not the generator's. Printed beside a plain copy of
// the same bytes and the USB 2.0 ceiling; the target is 20 times the ceiling.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "adapter/shared_value.h"
#include "capture.h"
#include "capture/guide_collector.h"
#include "capture/section_filter.h"
#include "capture/video_probe.h"
#include "host.h"
#include "stream/multiplex.h"

namespace {

constexpr double UsbCeilingBytesPerSecond = 53.248e6;
constexpr size_t ReplayBytes = 188 * 50000;  // ten seconds of the multiplex
constexpr uint64_t CaptureBytes = 1ull << 30;

// Replays a recorded stretch of stream over and over.
class Replay : public sim::TsSource {
 public:
  explicit Replay(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
  size_t Read(uint8_t* out, size_t size) override {
    size_t done = 0;
    while (done < size) {
      size_t n = std::min(size - done, bytes_.size() - position_);
      std::memcpy(out + done, bytes_.data() + position_, n);
      done += n;
      position_ = (position_ + n) % bytes_.size();
    }
    return done;
  }

 private:
  const std::vector<uint8_t>& bytes_;
  size_t position_ = 0;
};

const std::vector<uint8_t>& Recording() {
  static std::vector<uint8_t>* bytes = [] {
    auto* recorded = new std::vector<uint8_t>(ReplayBytes);
    sim::Multiplex(sim::MultiplexConfig{}).Read(recorded->data(), recorded->size());
    return recorded;
  }();
  return *bytes;
}

void BM_CaptureAllAnalysesArmed(benchmark::State& state) {
  const sim::ServiceInfo& service = sim::MultiplexServices().front();
  double seconds = 0;
  uint64_t bytes = 0;
  for (auto _ : state) {
    std::string error;
    std::unique_ptr<dtv::Host> host =
        dtv::Host::Create(dtv::HostOptions{}, &error, std::make_unique<Replay>(Recording()));
    if (host == nullptr || host->Start() != STATUS_SUCCESS) {
      state.SkipWithError("the device did not start");
      return;
    }
    auto* device = static_cast<DeviceContext*>(host->Adapter().DeviceExtension());
    dtv::CaptureSettings settings;
    settings.bytes = CaptureBytes;
    settings.readsInFlight = static_cast<int>(state.range(0));
    settings.onRead = [&] {
      if (!ReadShared(device->SectionFilterArmed)) {
        ArmSectionFilter(device, service.pmtPid, 0xFF, 0);
      }
      if (ReadShared(device->VideoProbePid) == 0x1FFF) {
        ArmVideoProbe(device, service.videoPid);
      }
      if (!ReadShared(device->Guide.GuideActive)) {
        StartGuideCollection(device, service.serviceId, GuideModeSchedule);
      }
    };
    dtv::CaptureResult result =
        dtv::Capture(*host, settings, [](const uint8_t*, size_t) { return true; });
    StopGuideCollection(device);
    seconds += result.seconds;
    bytes += result.bytes;
  }
  std::vector<uint8_t> sink(24064);
  auto start = std::chrono::steady_clock::now();
  for (size_t at = 0; at + sink.size() <= Recording().size(); at += sink.size()) {
    std::memcpy(sink.data(), Recording().data() + at, sink.size());
    benchmark::ClobberMemory();
  }
  double copySeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  double rate = bytes / seconds;
  double copyRate = (Recording().size() / 24064 * 24064) / copySeconds;
  state.counters["MB_per_s"] = rate / 1e6;
  state.counters["times_usb2_ceiling"] = rate / UsbCeilingBytesPerSecond;
  state.counters["ratio_to_copy"] = rate / copyRate;
}
BENCHMARK(BM_CaptureAllAnalysesArmed)->Arg(4)->Arg(8)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
