// Kernel events and waits. One process-wide mutex and condition variable
// serve every event; waits with a timeout honour the emulation's time scale
// so tests of time-outs run quickly.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "checks.h"
#include "kernel.h"

namespace emu {
namespace {

std::mutex eventMutex;
std::condition_variable eventChanged;
double timeScale = 1.0;

constexpr UCHAR NotificationType = 0;
constexpr UCHAR SynchronizationType = 1;

}  // namespace

void SetTimeScale(double scale) {
  std::lock_guard<std::mutex> lock(eventMutex);
  timeScale = scale;
}

std::chrono::nanoseconds ScaledInterval(LONGLONG hundredNanoseconds) {
  std::lock_guard<std::mutex> lock(eventMutex);
  return std::chrono::nanoseconds(static_cast<int64_t>(hundredNanoseconds * 100 * timeScale));
}

}  // namespace emu

extern "C" {

VOID NTAPI KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State) {
  std::lock_guard<std::mutex> lock(emu::eventMutex);
  Event->Header.Type = Type == NotificationEvent ? emu::NotificationType : emu::SynchronizationType;
  Event->Header.SignalState = State ? 1 : 0;
  Event->Header.WaitListHead.Flink = Event->Header.WaitListHead.Blink = &Event->Header.WaitListHead;
}

LONG NTAPI KeSetEvent(PRKEVENT Event, KPRIORITY Increment, BOOLEAN Wait) {
  UNREFERENCED_PARAMETER(Increment);
  UNREFERENCED_PARAMETER(Wait);
  emu::RequireIrqlAtMost(DISPATCH_LEVEL, "KeSetEvent");
  LONG previous;
  {
    std::lock_guard<std::mutex> lock(emu::eventMutex);
    previous = Event->Header.SignalState;
    Event->Header.SignalState = 1;
  }
  emu::eventChanged.notify_all();
  return previous;
}

VOID NTAPI KeClearEvent(PRKEVENT Event) {
  std::lock_guard<std::mutex> lock(emu::eventMutex);
  Event->Header.SignalState = 0;
}

LONG NTAPI KeResetEvent(PRKEVENT Event) {
  emu::RequireIrqlAtMost(DISPATCH_LEVEL, "KeResetEvent");
  std::lock_guard<std::mutex> lock(emu::eventMutex);
  LONG previous = Event->Header.SignalState;
  Event->Header.SignalState = 0;
  return previous;
}

LONG NTAPI KeReadStateEvent(PRKEVENT Event) {
  std::lock_guard<std::mutex> lock(emu::eventMutex);
  return Event->Header.SignalState;
}

NTSTATUS NTAPI KeWaitForSingleObject(PVOID Object, KWAIT_REASON WaitReason,
                                     KPROCESSOR_MODE WaitMode, BOOLEAN Alertable,
                                     PLARGE_INTEGER Timeout) {
  UNREFERENCED_PARAMETER(WaitReason);
  UNREFERENCED_PARAMETER(WaitMode);
  UNREFERENCED_PARAMETER(Alertable);
  bool polling = Timeout != nullptr && Timeout->QuadPart == 0;
  emu::RequireIrqlAtMost(polling ? DISPATCH_LEVEL : PASSIVE_LEVEL, "KeWaitForSingleObject");
  emu::RequireNoDriverLock("KeWaitForSingleObject");
  if (Timeout != nullptr && Timeout->QuadPart > 0) {
    emu::BugCheck("UNSUPPORTED", "KeWaitForSingleObject with an absolute time-out");
  }
  PRKEVENT event = static_cast<PRKEVENT>(Object);
  auto signalled = [event] { return event->Header.SignalState != 0; };
  std::unique_lock<std::mutex> lock(emu::eventMutex);
  bool satisfied;
  if (Timeout == nullptr) {
    emu::eventChanged.wait(lock, signalled);
    satisfied = true;
  } else {
    auto interval = std::chrono::nanoseconds(
        static_cast<int64_t>(-Timeout->QuadPart * 100 * emu::timeScale));
    satisfied = emu::eventChanged.wait_for(lock, interval, signalled);
  }
  if (!satisfied) {
    return STATUS_TIMEOUT;
  }
  if (event->Header.Type == emu::SynchronizationType) {
    event->Header.SignalState = 0;
  }
  return STATUS_WAIT_0;
}

NTSTATUS NTAPI KeDelayExecutionThread(KPROCESSOR_MODE WaitMode, BOOLEAN Alertable,
                                      PLARGE_INTEGER Interval) {
  UNREFERENCED_PARAMETER(WaitMode);
  UNREFERENCED_PARAMETER(Alertable);
  emu::RequireIrqlAtMost(PASSIVE_LEVEL, "KeDelayExecutionThread");
  std::this_thread::sleep_for(emu::ScaledInterval(-Interval->QuadPart));
  return STATUS_SUCCESS;
}

}  // extern "C"
