// Each rule the emulated platform enforces, shown firing on a deliberate
// violation. The violations run in a child process (death tests).
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "kernel/kernel.h"
#include "streamclass/stream_class.h"

namespace {

constexpr ULONG TestTag = 0x74736554;  // "Test"

class PlatformChecks : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

// ---- A minidriver whose device SRB handler the test chooses --------------

PHW_RECEIVE_DEVICE_SRB chosenHandler;

VOID STREAMAPI IgnoreSrb(PHW_STREAM_REQUEST_BLOCK) {}

NTSTATUS NTAPI FakeDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING path) {
  HW_INITIALIZATION_DATA init{};
  init.HwInitializationDataSize = sizeof(init);
  init.HwReceivePacket = chosenHandler;
  init.HwCancelPacket = IgnoreSrb;
  init.HwRequestTimeoutHandler = IgnoreSrb;
  init.DeviceExtensionSize = 64;
  init.PerRequestExtensionSize = 16;
  init.PerStreamExtensionSize = 16;
  return StreamClassRegisterAdapter(driver, path, &init);
}

VOID Finish(PHW_STREAM_REQUEST_BLOCK srb) {
  srb->Status = STATUS_SUCCESS;
  StreamClassDeviceNotification(DeviceRequestComplete, srb->HwDeviceExtension, srb);
}

// Runs one device SRB through a fake adapter whose handler is `handler`.
void RunDeviceSrb(PHW_RECEIVE_DEVICE_SRB handler) {
  chosenHandler = handler;
  emu::Minidriver driver(FakeDriverEntry);
  DEVICE_OBJECT pdo{};
  pdo.StackSize = 1;
  {
    emu::Adapter adapter(driver, &pdo);
    auto request = adapter.NewDeviceRequest(SRB_PAGING_OUT_DRIVER);
    adapter.Deliver(request);
  }
}

TEST_F(PlatformChecks, SrbCompletedTwice) {
  EXPECT_DEATH(RunDeviceSrb([](PHW_STREAM_REQUEST_BLOCK srb) {
                 Finish(srb);
                 StreamClassDeviceNotification(DeviceRequestComplete, nullptr, srb);
               }),
               "SRB_COMPLETION.*completed twice");
}

TEST_F(PlatformChecks, DeviceSrbCompletedAsAStreamSrb) {
  EXPECT_DEATH(RunDeviceSrb([](PHW_STREAM_REQUEST_BLOCK srb) {
                 StreamClassStreamNotification(StreamRequestComplete, srb->StreamObject, srb);
               }),
               "device SRB\\) completed with StreamRequestComplete");
}

TEST_F(PlatformChecks, SrbNeverCompleted) {
  EXPECT_DEATH(RunDeviceSrb(IgnoreSrb), "SRB_NEVER_COMPLETED.*SRB_PAGING_OUT_DRIVER");
}

TEST_F(PlatformChecks, SrbWrittenAfterCompletion) {
  EXPECT_DEATH(RunDeviceSrb([](PHW_STREAM_REQUEST_BLOCK srb) {
                 Finish(srb);
                 srb->Status = STATUS_CANCELLED;
               }),
               "SRB_USED_AFTER_COMPLETION");
}

TEST_F(PlatformChecks, CompletedSrbIsPoisonedAtOnce) {
  EXPECT_DEATH(RunDeviceSrb([](PHW_STREAM_REQUEST_BLOCK srb) {
                 Finish(srb);
                 // A use after completion follows a poisoned pointer.
                 volatile ULONG read = static_cast<PDEVICE_OBJECT>(srb->HwDeviceExtension)->Flags;
                 (void)read;
               }),
               "");
}

TEST_F(PlatformChecks, HandlerReturningWithALockHeld) {
  static KSPIN_LOCK lock;
  KeInitializeSpinLock(&lock);
  EXPECT_DEATH(RunDeviceSrb([](PHW_STREAM_REQUEST_BLOCK srb) {
                 KIRQL irql;
                 KeAcquireSpinLock(&lock, &irql);
                 UNREFERENCED_PARAMETER(srb);
               }),
               "SPIN_LOCK_HELD_ACROSS_CALL.*HwReceivePacket returned");
}

TEST_F(PlatformChecks, CompletionWithALockHeld) {
  static KSPIN_LOCK lock;
  KeInitializeSpinLock(&lock);
  EXPECT_DEATH(RunDeviceSrb([](PHW_STREAM_REQUEST_BLOCK srb) {
                 KIRQL irql;
                 KeAcquireSpinLock(&lock, &irql);
                 Finish(srb);
               }),
               "SPIN_LOCK_HELD_ACROSS_CALL.*StreamClassDeviceNotification");
}

TEST_F(PlatformChecks, TwoSpinLocksAtOnce) {
  KSPIN_LOCK first;
  KSPIN_LOCK second;
  KeInitializeSpinLock(&first);
  KeInitializeSpinLock(&second);
  EXPECT_DEATH(
      {
        KIRQL a;
        KIRQL b;
        KeAcquireSpinLock(&first, &a);
        KeAcquireSpinLock(&second, &b);
      },
      "SPIN_LOCK_NESTING");
}

TEST_F(PlatformChecks, LockHeldAcrossIoCallDriver) {
  KSPIN_LOCK lock;
  KeInitializeSpinLock(&lock);
  DEVICE_OBJECT device{};
  device.StackSize = 1;
  EXPECT_DEATH(
      {
        PIRP irp = IoAllocateIrp(2, FALSE);
        KIRQL irql;
        KeAcquireSpinLock(&lock, &irql);
        IoCallDriver(&device, irp);
      },
      "SPIN_LOCK_HELD_ACROSS_CALL.*IoCallDriver");
}

TEST_F(PlatformChecks, WaitAboveApcLevel) {
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  EXPECT_DEATH(
      {
        emu::IrqlScope dispatch(DISPATCH_LEVEL);
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
      },
      "IRQL_NOT_LESS_OR_EQUAL.*KeWaitForSingleObject");
}

TEST_F(PlatformChecks, PagedPoolAtDispatchLevel) {
  EXPECT_DEATH(
      {
        emu::IrqlScope dispatch(DISPATCH_LEVEL);
        ExAllocatePoolWithTag(PagedPool, 16, TestTag);
      },
      "IRQL_NOT_LESS_OR_EQUAL.*ExAllocatePoolWithTag");
}

TEST_F(PlatformChecks, RegistryAtDispatchLevel) {
  EXPECT_DEATH(
      {
        emu::IrqlScope dispatch(DISPATCH_LEVEL);
        ZwClose(nullptr);
      },
      "IRQL_NOT_LESS_OR_EQUAL.*ZwClose");
}

TEST_F(PlatformChecks, PoolMisuse) {
  EXPECT_DEATH(
      {
        void* block = ExAllocatePoolWithTag(NonPagedPool, 16, TestTag);
        ExFreePool(block);
        ExFreePool(block);
      },
      "BAD_POOL_CALLER.*freed twice");
  EXPECT_DEATH(
      {
        int local;
        ExFreePool(&local);
      },
      "BAD_POOL_CALLER.*never gave out");
  EXPECT_DEATH(
      {
        auto* block = static_cast<uint8_t*>(ExAllocatePoolWithTag(NonPagedPool, 16, TestTag));
        block[16] = 0;
        ExFreePool(block);
      },
      "POOL_CORRUPTION.*16 bytes, tag 'Test'");
}

TEST_F(PlatformChecks, PoolLeftAtUnloadIsReportedByTag) {
  EXPECT_DEATH(RunDeviceSrb([](PHW_STREAM_REQUEST_BLOCK srb) {
                 ExAllocatePoolWithTag(NonPagedPool, 40, TestTag);
                 Finish(srb);
               }),
               "DRIVER_LEFT_POOL_ALLOCATED.*'Test': 1 block\\(s\\), 40 bytes");
}

TEST_F(PlatformChecks, PoolFaultInjection) {
  emu::Pool::FailNth(2);
  void* first = ExAllocatePoolWithTag(NonPagedPool, 8, TestTag);
  void* second = ExAllocatePoolWithTag(NonPagedPool, 8, TestTag);
  void* third = ExAllocatePoolWithTag(NonPagedPool, 8, TestTag);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(second, nullptr);
  EXPECT_NE(third, nullptr);
  emu::Pool::FailTag(TestTag);
  EXPECT_EQ(ExAllocatePoolWithTag(NonPagedPool, 8, TestTag), nullptr);
  emu::Pool::ClearFailures();
  ExFreePool(first);
  ExFreePool(third);
}

TEST_F(PlatformChecks, IrpMisuse) {
  EXPECT_DEATH(
      {
        PIRP irp = IoAllocateIrp(1, FALSE);
        IoFreeIrp(irp);
        IoFreeIrp(irp);
      },
      "INVALID_IRP.*IoFreeIrp on an IRP that was freed");
  EXPECT_DEATH(
      {
        PIRP irp = IoAllocateIrp(1, FALSE);
        IoFreeIrp(irp);
        IoCancelIrp(irp);
      },
      "INVALID_IRP.*IoCancelIrp on an IRP that was freed");
}

TEST_F(PlatformChecks, LookasideEntryNotReturned) {
  EXPECT_DEATH(
      {
        NPAGED_LOOKASIDE_LIST list;
        ExInitializeNPagedLookasideList(&list, nullptr, nullptr, 0, 72, TestTag, 0);
        ExAllocateFromNPagedLookasideList(&list);
        ExDeleteNPagedLookasideList(&list);
      },
      "LOOKASIDE_LIST.*'Test' deleted with 1 entries not returned");
}

TEST_F(PlatformChecks, WorkItemFreedBeforeItsRunStarted) {
  EXPECT_DEATH(
      {
        // Keep every worker thread busy so the item stays queued.
        static WORK_QUEUE_ITEM busy[8];
        for (auto& item : busy) {
          ExInitializeWorkItem(&item, [](PVOID) { std::this_thread::sleep_for(std::chrono::seconds(2)); }, nullptr);
          ExQueueWorkItem(&item, DelayedWorkQueue);
        }
        DEVICE_OBJECT device{};
        PIO_WORKITEM item = IoAllocateWorkItem(&device);
        IoQueueWorkItem(item, [](PDEVICE_OBJECT, PVOID) {}, DelayedWorkQueue, nullptr);
        IoFreeWorkItem(item);
      },
      "WORK_ITEM.*freed while queued");
}

}  // namespace
