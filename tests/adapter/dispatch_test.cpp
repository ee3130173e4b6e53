// Entry point, SRB dispatch and the serialization of device and control SRBs.
#include <atomic>
#include <condition_variable>
#include <thread>

#include "adapter/dispatch.h"
#include "rig.h"

namespace dtvtest {
namespace {

using namespace std::chrono_literals;

class DispatchTest : public Rig {};

// Holds the thread that completes a chosen SRB until released, leaving that
// queue's owner between FinishDeviceSrb and its next DequeueNext.
class CompletionGate {
 public:
  explicit CompletionGate(SRB_COMMAND command) {
    emu::SetCompletionHook([this, command](emu::Request& request) {
      std::unique_lock<std::mutex> lock(mutex_);
      order_.push_back(request.Command());
      if (request.Command() == command && !held_) {
        held_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return released_; });
      }
    });
  }
  ~CompletionGate() { emu::SetCompletionHook(nullptr); }

  void WaitHeld() {
    std::unique_lock<std::mutex> lock(mutex_);
    ASSERT_TRUE(changed_.wait_for(lock, 10s, [this] { return held_; }));
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }
  std::vector<SRB_COMMAND> Order() {
    std::lock_guard<std::mutex> lock(mutex_);
    return order_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool held_ = false;
  bool released_ = false;
  std::vector<SRB_COMMAND> order_;
};

TEST_F(DispatchTest, DriverEntryRegistersTheAdapter) {
  Build();
  const HW_INITIALIZATION_DATA& init = host().Driver().Registration();
  EXPECT_EQ(host().Driver().EntryStatus(), STATUS_SUCCESS);
  EXPECT_EQ(init.HwInitializationDataSize, sizeof(HW_INITIALIZATION_DATA));
  EXPECT_EQ(init.HwInterrupt, nullptr);
  EXPECT_EQ(init.HwReceivePacket, HwReceivePacket);
  EXPECT_EQ(init.HwCancelPacket, HwCancelPacket);
  EXPECT_EQ(init.HwRequestTimeoutHandler, HwRequestTimeoutHandler);
  EXPECT_EQ(init.DeviceExtensionSize, sizeof(DeviceContext));
  EXPECT_EQ(init.PerRequestExtensionSize, sizeof(RequestLink));
  EXPECT_EQ(init.PerStreamExtensionSize, sizeof(StreamContext));
  EXPECT_EQ(init.FilterInstanceExtensionSize, 0u);
  EXPECT_FALSE(init.BusMasterDMA);
  EXPECT_FALSE(init.Dma24BitAddresses);
  EXPECT_EQ(init.BufferAlignment, 3u);
  EXPECT_TRUE(init.TurnOffSynchronization);
  EXPECT_EQ(init.DmaBufferSize, 0u);
  EXPECT_EQ(init.NumNameExtensions, 0u);
}

TEST_F(DispatchTest, DriverEntryReturnsTheRegistrationStatusUnchanged) {
  emu::FailNextAdapterRegistration(STATUS_INSUFFICIENT_RESOURCES);
  emu::Minidriver driver(DriverEntry);
  EXPECT_EQ(driver.EntryStatus(), STATUS_INSUFFICIENT_RESOURCES);
  EXPECT_FALSE(driver.Registered());
}

TEST_F(DispatchTest, DeviceCommandsOutsideTheTableAreNotImplemented) {
  BuildAndStart();
  struct Case {
    ULONG command;
    NTSTATUS status;
  };
  const Case cases[] = {
      {0x0FF, STATUS_NOT_IMPLEMENTED},
      {0x103, STATUS_NOT_IMPLEMENTED},  // SRB_OPEN_DEVICE_INSTANCE
      {0x104, STATUS_NOT_IMPLEMENTED},  // SRB_CLOSE_DEVICE_INSTANCE
      {0x10A, STATUS_NOT_IMPLEMENTED},  // SRB_UNKNOWN_DEVICE_COMMAND
      {0x10B, STATUS_SUCCESS},          // SRB_PAGING_OUT_DRIVER
      {0x10E, STATUS_SUCCESS},          // SRB_SURPRISE_REMOVAL
      {0x10F, STATUS_NOT_IMPLEMENTED},
      {0x1FF, STATUS_NOT_IMPLEMENTED},
      {0x005, STATUS_NOT_IMPLEMENTED},  // a stream command on the device queue
  };
  for (const Case& c : cases) {
    EXPECT_EQ(adapter().Send(static_cast<SRB_COMMAND>(c.command)), c.status)
        << "command 0x" << std::hex << c.command;
  }
  // Commands that succeed without a handler change nothing.
  EXPECT_EQ(device()->PowerState, PowerDeviceUnspecified);
  EXPECT_EQ(device()->DeviceReady, 1);
}

TEST_F(DispatchTest, PowerStateIsStoredAndNothingElseHappens) {
  BuildAndStart();
  size_t transfers = host().Port().ControlLog().size();
  auto request = adapter().NewDeviceRequest(SRB_CHANGE_POWER_STATE);
  request->Srb()->CommandData.DeviceState = PowerDeviceD3;
  adapter().Deliver(request);
  ASSERT_TRUE(request->Wait());
  EXPECT_EQ(request->Status(), STATUS_SUCCESS);
  EXPECT_EQ(device()->PowerState, PowerDeviceD3);
  EXPECT_EQ(host().Port().ControlLog().size(), transfers);
}

TEST_F(DispatchTest, StreamCommandsOutsideTheTableAreNotImplemented) {
  BuildAndStart();
  auto stream = OpenCapture();
  for (ULONG command : {SRB_READ_DATA, SRB_WRITE_DATA, SRB_SET_STREAM_PROPERTY,
                        SRB_OPEN_MASTER_CLOCK, SRB_UNKNOWN_STREAM_COMMAND, SRB_SET_STREAM_RATE,
                        SRB_CLOSE_MASTER_CLOCK, SRB_PROPOSE_STREAM_RATE, SRB_GET_DATA_FORMAT,
                        SRB_BEGIN_FLUSH, SRB_END_FLUSH, static_cast<SRB_COMMAND>(0x55)}) {
    auto request = stream->NewControlRequest(static_cast<SRB_COMMAND>(command));
    stream->Deliver(request);
    ASSERT_TRUE(request->Wait());
    EXPECT_EQ(request->Status(), STATUS_NOT_IMPLEMENTED) << emu::CommandName(request->Command());
  }
}

TEST_F(DispatchTest, QueuedDeviceSrbsRunInArrivalOrderOnTheOwnersThread) {
  BuildAndStart();
  CompletionGate gate(SRB_PAGING_OUT_DRIVER);
  auto first = adapter().NewDeviceRequest(SRB_PAGING_OUT_DRIVER);
  std::thread owner([&] { adapter().Deliver(first); });
  gate.WaitHeld();

  // The owner sits between the completion of its SRB and its next dequeue;
  // these arrive now, each queued before the next is delivered.
  const SRB_COMMAND commands[] = {SRB_SURPRISE_REMOVAL, SRB_UNKNOWN_DEVICE_COMMAND,
                                  SRB_GET_STREAM_INFO};
  std::vector<std::shared_ptr<emu::Request>> waiting;
  for (SRB_COMMAND command : commands) {
    auto request = adapter().NewDeviceRequest(command);
    if (command == SRB_GET_STREAM_INFO) {
      request->Buffer().assign(adapter().DeclaredDescriptorSize(), 0);
      request->Srb()->CommandData.StreamBuffer =
          reinterpret_cast<PHW_STREAM_DESCRIPTOR>(request->Buffer().data());
    }
    adapter().Deliver(request);
    EXPECT_FALSE(request->Completed());
    waiting.push_back(request);
  }
  gate.Release();
  owner.join();
  for (auto& request : waiting) {
    ASSERT_TRUE(request->Wait());
    EXPECT_EQ(request->CompletionThread(), first->CompletionThread());
  }
  EXPECT_EQ(gate.Order(), (std::vector<SRB_COMMAND>{SRB_PAGING_OUT_DRIVER, SRB_SURPRISE_REMOVAL,
                                                    SRB_UNKNOWN_DEVICE_COMMAND,
                                                    SRB_GET_STREAM_INFO}));
  EXPECT_EQ(device()->DeviceQueueBusy, 0u);
  EXPECT_TRUE(IsListEmpty(&device()->DeviceQueue));
}

TEST_F(DispatchTest, ConcurrentDeviceSrbsAllCompleteAndLeaveTheQueueIdle) {
  BuildAndStart();
  constexpr int Threads = 4;
  constexpr int PerThread = 200;
  std::atomic<int> running{0};
  std::atomic<int> maxRunning{0};
  emu::SetCompletionHook([&](emu::Request&) {
    int now = ++running;
    int seen = maxRunning.load();
    while (now > seen && !maxRunning.compare_exchange_weak(seen, now)) {
    }
    std::this_thread::yield();
    --running;
  });
  std::vector<std::thread> threads;
  std::vector<std::vector<std::shared_ptr<emu::Request>>> requests(Threads);
  for (int t = 0; t < Threads; t++) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < PerThread; i++) {
        auto request = adapter().NewDeviceRequest(i % 2 ? SRB_PAGING_OUT_DRIVER
                                                        : SRB_UNKNOWN_DEVICE_COMMAND);
        adapter().Deliver(request, t % 2 ? DISPATCH_LEVEL : PASSIVE_LEVEL);
        requests[t].push_back(request);
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  for (auto& list : requests) {
    for (auto& request : list) {
      ASSERT_TRUE(request->Wait());
      EXPECT_EQ(request->Status(), request->Command() == SRB_PAGING_OUT_DRIVER
                                       ? STATUS_SUCCESS
                                       : STATUS_NOT_IMPLEMENTED);
    }
  }
  emu::SetCompletionHook(nullptr);
  emu::WorkQueue::WaitIdle();
  EXPECT_EQ(maxRunning.load(), 1) << "two device SRBs were completed at the same time";
  EXPECT_EQ(device()->DeviceQueueBusy, 0u);
  EXPECT_TRUE(IsListEmpty(&device()->DeviceQueue));
}

TEST_F(DispatchTest, DeviceSrbsDeliveredAtDispatchLevelAreHandledAtPassiveLevel) {
  BuildAndStart();
  auto stream = OpenCapture();
  // Closing waits for the stream's reads, which is only allowed at
  // PASSIVE_LEVEL: the platform would stop the test if it ran at DISPATCH_LEVEL.
  auto close = stream->BeginClose();
  adapter().Deliver(close, DISPATCH_LEVEL);
  EXPECT_EQ(stream->EndClose(close), STATUS_SUCCESS);
  EXPECT_EQ(close->CompletionIrql(), PASSIVE_LEVEL);
  EXPECT_NE(close->CompletionThread(), std::this_thread::get_id());
  EXPECT_EQ(device()->StreamInstances[0], 0u);
}

TEST_F(DispatchTest, DeviceAndControlSrbsRunInParallel) {
  BuildAndStart();
  auto stream = OpenCapture();
  CompletionGate gate(SRB_PAGING_OUT_DRIVER);
  auto device_srb = adapter().NewDeviceRequest(SRB_PAGING_OUT_DRIVER);
  std::thread owner([&] { adapter().Deliver(device_srb); });
  gate.WaitHeld();
  // The device queue is owned and held; the control queue is not.
  KSSTATE state;
  EXPECT_EQ(stream->GetState(&state), STATUS_SUCCESS);
  EXPECT_EQ(state, KSSTATE_STOP);
  gate.Release();
  owner.join();
}

TEST_F(DispatchTest, TimeoutHandlerRestartsTheCountdown) {
  BuildAndStart();
  CompletionGate gate(SRB_PAGING_OUT_DRIVER);
  auto held = adapter().NewDeviceRequest(SRB_PAGING_OUT_DRIVER);
  std::thread owner([&] { adapter().Deliver(held); });
  gate.WaitHeld();
  auto waiting = adapter().NewDeviceRequest(SRB_SURPRISE_REMOVAL);
  adapter().Deliver(waiting);
  int called = 0;
  for (int second = 0; second < 40; second++) {
    auto [handlers, expired] = adapter().TickTimeouts();
    called += handlers;
    EXPECT_EQ(expired, 0);
  }
  EXPECT_GE(called, 2);
  EXPECT_FALSE(waiting->Completed());
  gate.Release();
  owner.join();
  ASSERT_TRUE(waiting->Wait());
  EXPECT_EQ(waiting->Status(), STATUS_SUCCESS);
}

TEST_F(DispatchTest, CancelOfAnythingButAPendingReadHasNoEffect) {
  BuildAndStart();
  auto stream = OpenCapture();
  CompletionGate gate(SRB_PAGING_OUT_DRIVER);
  auto held = adapter().NewDeviceRequest(SRB_PAGING_OUT_DRIVER);
  std::thread owner([&] { adapter().Deliver(held); });
  gate.WaitHeld();
  auto waiting = adapter().NewDeviceRequest(SRB_UNKNOWN_DEVICE_COMMAND);
  adapter().Deliver(waiting);
  adapter().Cancel(waiting);  // a queued device SRB
  auto control = stream->NewControlRequest(SRB_GET_STREAM_STATE);
  adapter().Cancel(control);  // never delivered
  gate.Release();
  owner.join();
  ASSERT_TRUE(waiting->Wait());
  EXPECT_EQ(waiting->Status(), STATUS_NOT_IMPLEMENTED);
}

}  // namespace
}  // namespace dtvtest
