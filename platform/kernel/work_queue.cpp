// System worker threads: ExQueueWorkItem and the IO_WORKITEM routines. Items
// run at PASSIVE_LEVEL on a few worker threads, possibly at the same time, as
// the delayed work queue does. A work item queued twice, freed before its run
// started, or a routine that returns with a lock held or at a raised IRQL
// bug-checks.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "kernel.h"

struct _IO_WORKITEM {
  PDEVICE_OBJECT DeviceObject;
  bool queued;
};

namespace emu {
namespace {

constexpr int WorkerThreads = 3;

class Workers {
 public:
  Workers() {
    for (int i = 0; i < WorkerThreads; i++) {
      std::thread(&Workers::Run, this).detach();
    }
  }

  void Queue(std::function<void()> item) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      items_.push_back(std::move(item));
      queued_++;
    }
    changed_.notify_all();
  }

  void WaitIdle() {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return items_.empty() && running_ == 0; });
  }

  uint64_t Queued() {
    std::lock_guard<std::mutex> lock(mutex_);
    return queued_;
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return !items_.empty(); });
      std::function<void()> item = std::move(items_.front());
      items_.pop_front();
      running_++;
      lock.unlock();
      item();
      RequireCleanReturn(PASSIVE_LEVEL, "a work item routine");
      lock.lock();
      running_--;
      if (items_.empty() && running_ == 0) {
        idle_.notify_all();
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::condition_variable idle_;
  std::deque<std::function<void()>> items_;
  int running_ = 0;
  uint64_t queued_ = 0;
};

Workers& TheWorkers() {
  static auto* workers = new Workers;
  return *workers;
}

std::mutex itemMutex;
std::unordered_map<PIO_WORKITEM, bool>& IoWorkItems() {
  static auto* items = new std::unordered_map<PIO_WORKITEM, bool>;
  return *items;
}

}  // namespace

void WorkQueue::WaitIdle() { TheWorkers().WaitIdle(); }

uint64_t WorkQueue::ItemsQueued() { return TheWorkers().Queued(); }

void WorkQueue::CheckNoWorkItems(const std::string& when) {
  std::lock_guard<std::mutex> lock(itemMutex);
  if (!IoWorkItems().empty()) {
    BugCheck("DRIVER_LEFT_WORK_ITEMS",
             std::to_string(IoWorkItems().size()) + " work item(s) not freed " + when);
  }
}

}  // namespace emu

extern "C" {

VOID NTAPI ExQueueWorkItem(PWORK_QUEUE_ITEM WorkItem, WORK_QUEUE_TYPE QueueType) {
  UNREFERENCED_PARAMETER(QueueType);
  emu::RequireIrqlAtMost(DISPATCH_LEVEL, "ExQueueWorkItem");
  // List.Flink marks a queued item until its routine starts.
  if (__atomic_exchange_n(&WorkItem->List.Flink, &WorkItem->List, __ATOMIC_ACQ_REL) != nullptr) {
    emu::BugCheck("WORK_ITEM", "a work item queued again before its routine started");
  }
  emu::TheWorkers().Queue([WorkItem] {
    PWORKER_THREAD_ROUTINE routine = WorkItem->WorkerRoutine;
    PVOID parameter = WorkItem->Parameter;
    __atomic_store_n(&WorkItem->List.Flink, nullptr, __ATOMIC_RELEASE);
    routine(parameter);
  });
}

PIO_WORKITEM NTAPI IoAllocateWorkItem(PDEVICE_OBJECT DeviceObject) {
  emu::RequireIrqlAtMost(DISPATCH_LEVEL, "IoAllocateWorkItem");
  auto* item = new _IO_WORKITEM{DeviceObject, false};
  std::lock_guard<std::mutex> lock(emu::itemMutex);
  emu::IoWorkItems()[item] = false;
  return item;
}

VOID NTAPI IoFreeWorkItem(PIO_WORKITEM IoWorkItem) {
  emu::RequireIrqlAtMost(DISPATCH_LEVEL, "IoFreeWorkItem");
  {
    std::lock_guard<std::mutex> lock(emu::itemMutex);
    auto it = emu::IoWorkItems().find(IoWorkItem);
    if (it == emu::IoWorkItems().end()) {
      emu::BugCheck("WORK_ITEM", "IoFreeWorkItem on a work item freed before or never allocated");
    }
    if (it->second) {
      emu::BugCheck("WORK_ITEM", "a work item freed while queued, before its routine started");
    }
    emu::IoWorkItems().erase(it);
  }
  delete IoWorkItem;
}

VOID NTAPI IoQueueWorkItem(PIO_WORKITEM IoWorkItem, PIO_WORKITEM_ROUTINE WorkerRoutine,
                           WORK_QUEUE_TYPE QueueType, PVOID Context) {
  UNREFERENCED_PARAMETER(QueueType);
  emu::RequireIrqlAtMost(DISPATCH_LEVEL, "IoQueueWorkItem");
  {
    std::lock_guard<std::mutex> lock(emu::itemMutex);
    auto it = emu::IoWorkItems().find(IoWorkItem);
    if (it == emu::IoWorkItems().end()) {
      emu::BugCheck("WORK_ITEM", "IoQueueWorkItem on a freed work item");
    }
    if (it->second) {
      emu::BugCheck("WORK_ITEM", "a work item queued again before its routine started");
    }
    it->second = true;
  }
  PDEVICE_OBJECT device = IoWorkItem->DeviceObject;
  emu::TheWorkers().Queue([IoWorkItem, WorkerRoutine, Context, device] {
    {
      std::lock_guard<std::mutex> lock(emu::itemMutex);
      emu::IoWorkItems()[IoWorkItem] = false;
    }
    WorkerRoutine(device, Context);
  });
}

}  // extern "C"
