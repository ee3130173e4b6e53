// Analysis of captured buffers against the physical limit: each 24,064-byte
// buffer of the built-in multiplex goes through the alignment with every
// analysis armed (the guide on PID 0x12, the probe and the section filter on
// PIDs present in the buffers), beside two references measured in the same
// run: a plain copy of the buffer and a loop that only reads each packet's
// sync byte and PID. The floor: at the USB 2.0 high-speed ceiling (2,213
// buffers a second) the analysis may cost at most 1% of one core.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "capture/align.h"
#include "capture/guide_collector.h"
#include "capture/section_filter.h"
#include "capture/video_probe.h"
#include "host.h"
#include "adapter/shared_value.h"
#include "kernel/kernel.h"
#include "stream/multiplex.h"

namespace {

constexpr size_t BufferBytes = 24064;
constexpr size_t Buffers = 256;
constexpr double CeilingBuffersPerSecond = 53.248e6 / BufferBytes;

struct Fixture {
  std::unique_ptr<dtv::Host> host;
  DeviceContext* device;
  std::vector<std::vector<uint8_t>> buffers;
  uint16_t videoPid;
  uint16_t sectionPid;
  uint16_t serviceId;
};

Fixture& TheFixture() {
  static Fixture* fixture = [] {
    auto* f = new Fixture;
    std::string error;
    f->host = dtv::Host::Create(dtv::HostOptions{}, &error);
    if (f->host == nullptr || f->host->Start() != STATUS_SUCCESS) {
      std::abort();
    }
    f->device = static_cast<DeviceContext*>(f->host->Adapter().DeviceExtension());
    sim::Multiplex multiplex(sim::MultiplexConfig{});
    for (size_t i = 0; i < Buffers; i++) {
      std::vector<uint8_t> buffer(BufferBytes);
      multiplex.Read(buffer.data(), buffer.size());
      f->buffers.push_back(std::move(buffer));
    }
    const sim::ServiceInfo& service = sim::MultiplexServices().front();
    f->videoPid = service.videoPid;
    f->sectionPid = service.pmtPid;
    f->serviceId = service.serviceId;
    return f;
  }();
  return *fixture;
}

// Arms every analysis; the ones that completed on the last buffer are armed
// again, so each buffer meets all of them.
void ArmAll(Fixture& f) {
  if (!ReadShared(f.device->SectionFilterArmed)) {
    ArmSectionFilter(f.device, f.sectionPid, 0xFF, 0);
  }
  if (ReadShared(f.device->VideoProbePid) == 0x1FFF) {
    ArmVideoProbe(f.device, f.videoPid);
  }
  if (!ReadShared(f.device->Guide.GuideActive)) {
    StartGuideCollection(f.device, f.serviceId, GuideModeSchedule);
  }
}

template <typename Body>
double NanosecondsPerBuffer(Body body) {
  constexpr int Rounds = 20;
  auto start = std::chrono::steady_clock::now();
  for (int r = 0; r < Rounds; r++) {
    for (auto& buffer : TheFixture().buffers) {
      body(buffer);
    }
  }
  auto elapsed = std::chrono::steady_clock::now() - start;
  return std::chrono::duration<double, std::nano>(elapsed).count() / (Rounds * Buffers);
}

uint32_t SyncAndPid(const std::vector<uint8_t>& buffer) {
  uint32_t sum = 0;
  for (size_t at = 0; at + 188 <= buffer.size(); at += 188) {
    sum += buffer[at] + (((buffer[at + 1] & 0x1F) << 8) | buffer[at + 2]);
  }
  return sum;
}

void BM_AnalyzeBufferAllArmed(benchmark::State& state) {
  Fixture& f = TheFixture();
  emu::IrqlScope dispatch(DISPATCH_LEVEL);
  size_t i = 0;
  for (auto _ : state) {
    state.PauseTiming();
    ArmAll(f);
    state.ResumeTiming();
    benchmark::DoNotOptimize(
        AnalyzeCapturedBuffer(f.device, f.buffers[i].data(), BufferBytes));
    i = (i + 1) % Buffers;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * BufferBytes));

  // The references, in the same run.
  std::vector<uint8_t> copy(BufferBytes);
  double copyNs = NanosecondsPerBuffer([&](const std::vector<uint8_t>& buffer) {
    std::memcpy(copy.data(), buffer.data(), BufferBytes);
    benchmark::ClobberMemory();
  });
  uint32_t sink = 0;
  double syncNs = NanosecondsPerBuffer([&](const std::vector<uint8_t>& buffer) {
    sink += SyncAndPid(buffer);
    benchmark::DoNotOptimize(sink);
  });
  double analysisNs = NanosecondsPerBuffer([&](const std::vector<uint8_t>& buffer) {
    ArmAll(f);
    AnalyzeCapturedBuffer(f.device, buffer.data(), BufferBytes);
  }) - NanosecondsPerBuffer([&](const std::vector<uint8_t>&) { ArmAll(f); });
  state.counters["analysis_ns"] = analysisNs;
  state.counters["copy_ns"] = copyNs;
  state.counters["sync_pid_ns"] = syncNs;
  state.counters["ratio_to_copy"] = analysisNs / copyNs;
  state.counters["ratio_to_sync_pid"] = analysisNs / syncNs;
  state.counters["core_pct_at_usb2"] = analysisNs * CeilingBuffersPerSecond / 1e9 * 100;
}
BENCHMARK(BM_AnalyzeBufferAllArmed)->Unit(benchmark::kMicrosecond);

void BM_PlainCopy(benchmark::State& state) {
  Fixture& f = TheFixture();
  std::vector<uint8_t> copy(BufferBytes);
  size_t i = 0;
  for (auto _ : state) {
    std::memcpy(copy.data(), f.buffers[i].data(), BufferBytes);
    benchmark::ClobberMemory();
    i = (i + 1) % Buffers;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * BufferBytes));
}
BENCHMARK(BM_PlainCopy)->Unit(benchmark::kMicrosecond);

void BM_SyncAndPidLoop(benchmark::State& state) {
  Fixture& f = TheFixture();
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(SyncAndPid(f.buffers[i]));
    i = (i + 1) % Buffers;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * BufferBytes));
}
BENCHMARK(BM_SyncAndPidLoop)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
