// The capture loop (see capture.h).
#include "capture.h"

#include <chrono>
#include <deque>

#include "capture/ts_packet.h"
#include "status_text.h"

namespace dtv {
namespace {

using Clock = std::chrono::steady_clock;

// How long a file input may stay silent before the capture counts it as
// exhausted.
constexpr auto ExhaustedGrace = std::chrono::milliseconds(200);

}  // namespace

KSDATAFORMAT TransportStreamFormat() {
  KSDATAFORMAT format{};
  format.FormatSize = sizeof(KSDATAFORMAT);
  format.SampleSize = CaptureSampleSize;
  format.MajorFormat = GUID{STATIC_KSDATAFORMAT_TYPE_STREAM};
  format.SubFormat = GUID{STATIC_KSDATAFORMAT_TYPE_MPEG2_TRANSPORT};
  format.Specifier = GUID{STATIC_KSDATAFORMAT_SPECIFIER_NONE};
  return format;
}

CaptureResult Capture(Host& host, const CaptureSettings& settings, const CaptureSink& sink) {
  CaptureResult result;
  std::unique_ptr<emu::Stream> pin =
      host.Adapter().OpenStream(0, TransportStreamFormat(), &result.status);
  if (pin == nullptr) {
    result.failure = "the capture pin refused to open: " + StatusName(result.status);
    return result;
  }
  for (KSSTATE state : {KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN}) {
    result.status = pin->SetState(state);
    if (!NT_SUCCESS(result.status)) {
      result.failure = "the capture pin refused a state change: " + StatusName(result.status);
      return result;
    }
  }

  auto limitReached = [&] { return settings.bytes != 0 && result.bytes >= settings.bytes; };
  auto deliver = [&](emu::Request& read) {
    uint64_t used = read.Header().DataUsed;
    if (settings.bytes != 0) {
      used = std::min<uint64_t>(used, settings.bytes - result.bytes);
    }
    if (used != 0 && !sink(read.Buffer().data(), used)) {
      result.sinkFailed = true;
    }
    result.bytes += used;
  };

  Clock::time_point start = Clock::now();
  Clock::time_point deadline =
      settings.seconds > 0 ? start + std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double>(settings.seconds))
                           : Clock::time_point::max();
  std::deque<std::shared_ptr<emu::Request>> reads;
  while (!limitReached() && !result.sinkFailed && Clock::now() < deadline) {
    while (static_cast<int>(reads.size()) < settings.readsInFlight) {
      auto read = pin->NewRead(CaptureSampleSize, CaptureSampleSize);
      pin->Deliver(read);
      reads.push_back(read);
    }
    auto wait = std::min<Clock::duration>(ExhaustedGrace, deadline - Clock::now());
    if (!reads.front()->Wait(std::chrono::duration_cast<std::chrono::milliseconds>(wait))) {
      if (settings.untilSourceEnds && host.Receiver().SourceExhausted()) {
        break;
      }
      continue;
    }
    result.reads++;
    if (reads.front()->Status() == STATUS_SUCCESS) {
      deliver(*reads.front());
    } else {
      result.failedReads++;
    }
    reads.pop_front();
    if (settings.onRead) {
      settings.onRead();
    }
  }
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();

  pin->SetState(KSSTATE_STOP);
  pin->Close();
  // Reads the close cancelled carry nothing; reads that completed with data
  // before the cancel took effect still belong to the stream.
  for (auto& read : reads) {
    if (!limitReached() && !result.sinkFailed && read->Status() == STATUS_SUCCESS) {
      deliver(*read);
    }
  }
  result.status = STATUS_SUCCESS;
  return result;
}

}  // namespace dtv
