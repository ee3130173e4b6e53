// Many reads in flight with random cancels, state changes, analyses armed
// and disarmed, and closes from another thread, all at once. Run under
// ThreadSanitizer in `make test`. The platform checks that every SRB is
// completed exactly once; the unload at the end checks that no IRP, URB or
// pool block is left.
#include <atomic>
#include <deque>
#include <mutex>
#include <random>
#include <thread>

#include "capture/guide_collector.h"
#include "capture/section_filter.h"
#include "capture/video_probe.h"
#include "rig.h"
#include "ts_builder.h"

namespace dtvtest {
namespace {

constexpr ULONG SampleSize = 24064;
constexpr int Rounds = 4;
constexpr int ReadsPerReader = 150;
constexpr int Readers = 2;
constexpr size_t InFlightPerReader = 6;

class StressTest : public Rig {};

TEST_F(StressTest, ReadsCancelsStatesAnalysesAndClosesTogether) {
  options().receiver.shortTransfersPercent = 30;
  options().receiver.garbagePercent = 2;
  options().receiver.bulkErrorsPercent = 2;
  BuildAndStart();

  for (int round = 0; round < Rounds; round++) {
    SCOPED_TRACE("round " + std::to_string(round));
    std::unique_ptr<emu::Stream> stream = OpenCapture();
    ASSERT_EQ(stream->SetState(KSSTATE_RUN), STATUS_SUCCESS);

    std::mutex mutex;
    std::vector<std::shared_ptr<emu::Request>> all;
    std::atomic<int> readersDone{0};

    auto reader = [&](int seed) {
      std::mt19937 random(seed);
      std::deque<std::shared_ptr<emu::Request>> mine;
      for (int i = 0; i < ReadsPerReader; i++) {
        auto read = stream->NewRead(SampleSize, random() % 4 == 0 ? 1 + random() % SampleSize
                                                                  : SampleSize);
        {
          std::lock_guard<std::mutex> lock(mutex);
          all.push_back(read);
        }
        stream->Deliver(read, random() % 2 ? DISPATCH_LEVEL : PASSIVE_LEVEL);
        mine.push_back(read);
        if (mine.size() >= InFlightPerReader) {
          mine.front()->Wait(std::chrono::milliseconds(50));
          mine.pop_front();
        }
      }
      readersDone++;
    };
    auto canceller = [&] {
      std::mt19937 random(round);
      while (readersDone < Readers) {
        std::shared_ptr<emu::Request> victim;
        {
          std::lock_guard<std::mutex> lock(mutex);
          if (!all.empty()) {
            victim = all[random() % all.size()];
          }
        }
        if (victim) {
          adapter().Cancel(victim);
        }
        std::this_thread::yield();
      }
    };
    auto stateChanger = [&] {
      const KSSTATE states[] = {KSSTATE_PAUSE, KSSTATE_RUN, KSSTATE_STOP, KSSTATE_RUN};
      for (int i = 0; readersDone < Readers; i++) {
        stream->SetState(states[i % 4]);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
      stream->SetState(KSSTATE_RUN);
    };
    auto armer = [&] {
      std::mt19937 random(round + 100);
      Bytes section(5000);
      ULONG needed;
      while (readersDone < Readers) {
        switch (random() % 6) {
          case 0:
            ArmSectionFilter(device(), static_cast<USHORT>(random() % 0x40), 0xFF, 0);
            break;
          case 1:
            ReadCaughtSection(device(), section.data(), static_cast<ULONG>(section.size()),
                              &needed);
            break;
          case 2:
            ArmVideoProbe(device(), static_cast<USHORT>(0x100 + random() % 4));
            break;
          case 3:
            StartGuideCollection(device(), static_cast<USHORT>(random() % 4 + 1),
                                 static_cast<UCHAR>(random() % 2));
            break;
          case 4: {
            Bytes result(GuideResultSize);
            ReadGuideResult(device(), result.data());
            break;
          }
          default:
            StopGuideCollection(device());
            ArmVideoProbe(device(), 0x1FFF);
            break;
        }
        ReadVideoInfo(device());
        std::this_thread::yield();
      }
    };

    std::vector<std::thread> threads;
    for (int r = 0; r < Readers; r++) {
      threads.emplace_back(reader, round * 10 + r);
    }
    threads.emplace_back(canceller);
    threads.emplace_back(stateChanger);
    threads.emplace_back(armer);
    for (auto& thread : threads) {
      thread.join();
    }

    // Close from another thread while reads are still in flight.
    std::thread closer([&] { EXPECT_EQ(stream->Close(), STATUS_SUCCESS); });
    closer.join();
    for (auto& read : all) {
      ASSERT_TRUE(read->Completed()) << "every read completed by the time close returned";
    }
    EXPECT_EQ(emu::Irps::Outstanding(), 0u);
  }
  StopGuideCollection(device());
}

}  // namespace
}  // namespace dtvtest
