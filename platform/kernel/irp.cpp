// IRPs: allocation, forwarding down a device stack, completion through the
// completion routines of each stack location, cancellation with the cancel
// spin lock. Every IRP is tracked: an IRP freed twice, freed while a lower
// driver holds it, cancelled after it was freed, or from IoAllocateIrp
// completed back to the I/O manager bug-checks.
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <unordered_map>

#include "kernel.h"

namespace emu {
namespace {

enum class IrpKind { Allocated, Threaded };
enum class IrpOwner { Driver, LowerDriver };

struct IrpRecord {
  IrpKind kind;
  IrpOwner owner;
};

std::mutex irpMutex;
std::unordered_map<PIRP, IrpRecord>& Live() {
  static auto* live = new std::unordered_map<PIRP, IrpRecord>;
  return *live;
}
// Freed IRPs are kept poisoned for a while before their memory is released,
// so a late use reads garbage instead of a new IRP.
std::deque<PIRP>& Quarantine() {
  static auto* quarantine = new std::deque<PIRP>;
  return *quarantine;
}
constexpr size_t QuarantineDepth = 1024;
constexpr unsigned char FreedIrpByte = 0xDB;

std::mutex cancelMutex;
bool failNextAllocation = false;

size_t IrpBytes(CCHAR stackSize) { return sizeof(IRP) + stackSize * sizeof(IO_STACK_LOCATION); }

PIRP NewIrp(CCHAR stackSize, IrpKind kind) {
  if (stackSize < 1) {
    BugCheck("INVALID_IRP", "an IRP with no stack location");
  }
  PIRP irp = static_cast<PIRP>(std::calloc(1, IrpBytes(stackSize)));
  irp->Size = static_cast<USHORT>(IrpBytes(stackSize));
  irp->StackCount = stackSize;
  irp->CurrentLocation = static_cast<CHAR>(stackSize + 1);
  irp->Tail.Overlay.CurrentStackLocation =
      reinterpret_cast<PIO_STACK_LOCATION>(irp + 1) + stackSize;
  std::lock_guard<std::mutex> lock(irpMutex);
  Live()[irp] = IrpRecord{kind, IrpOwner::Driver};
  return irp;
}

IrpRecord& Lookup(PIRP irp, const char* routine) {
  auto it = Live().find(irp);
  if (it == Live().end()) {
    BugCheck("INVALID_IRP", std::string(routine) + " on an IRP that was freed or never allocated");
  }
  return it->second;
}

void ReleaseIrp(PIRP irp) {
  std::lock_guard<std::mutex> lock(irpMutex);
  Live().erase(irp);
  std::memset(irp, FreedIrpByte, irp->Size);
  Quarantine().push_back(irp);
  if (Quarantine().size() > QuarantineDepth) {
    std::free(Quarantine().front());
    Quarantine().pop_front();
  }
}

bool InvokeRoutine(const IO_STACK_LOCATION* stack, PIRP irp) {
  if (stack->CompletionRoutine == nullptr) {
    return false;
  }
  NTSTATUS status = irp->IoStatus.Status;
  return (NT_SUCCESS(status) && (stack->Control & SL_INVOKE_ON_SUCCESS)) ||
         (!NT_SUCCESS(status) && (stack->Control & SL_INVOKE_ON_ERROR)) ||
         (__atomic_load_n(&irp->Cancel, __ATOMIC_ACQUIRE) && (stack->Control & SL_INVOKE_ON_CANCEL));
}

}  // namespace

size_t Irps::Outstanding() {
  std::lock_guard<std::mutex> lock(irpMutex);
  size_t count = 0;
  for (const auto& [irp, record] : Live()) {
    count += record.kind == IrpKind::Allocated ? 1 : 0;
  }
  return count;
}

void Irps::FailNextAllocation() {
  std::lock_guard<std::mutex> lock(irpMutex);
  failNextAllocation = true;
}

void Irps::CheckNoneOutstanding(const std::string& when) {
  size_t count = Outstanding();
  if (count != 0) {
    BugCheck("DRIVER_LEFT_IRPS", std::to_string(count) + " IRP(s) from IoAllocateIrp not freed " +
                                     when);
  }
}

}  // namespace emu

extern "C" {

PIRP NTAPI IoAllocateIrp(CCHAR StackSize, BOOLEAN ChargeQuota) {
  UNREFERENCED_PARAMETER(ChargeQuota);
  emu::RequireIrqlAtMost(DISPATCH_LEVEL, "IoAllocateIrp");
  {
    std::lock_guard<std::mutex> lock(emu::irpMutex);
    if (emu::failNextAllocation) {
      emu::failNextAllocation = false;
      return nullptr;
    }
  }
  return emu::NewIrp(StackSize, emu::IrpKind::Allocated);
}

VOID NTAPI IoFreeIrp(PIRP Irp) {
  emu::RequireIrqlAtMost(DISPATCH_LEVEL, "IoFreeIrp");
  {
    std::lock_guard<std::mutex> lock(emu::irpMutex);
    emu::IrpRecord& record = emu::Lookup(Irp, "IoFreeIrp");
    if (record.kind != emu::IrpKind::Allocated) {
      emu::BugCheck("INVALID_IRP", "IoFreeIrp on an IRP that the I/O manager releases");
    }
    if (record.owner != emu::IrpOwner::Driver) {
      emu::BugCheck("INVALID_IRP", "IoFreeIrp on an IRP that a lower driver still holds");
    }
  }
  emu::ReleaseIrp(Irp);
}

PIRP NTAPI IoBuildDeviceIoControlRequest(ULONG IoControlCode, PDEVICE_OBJECT DeviceObject,
                                         PVOID InputBuffer, ULONG InputBufferLength,
                                         PVOID OutputBuffer, ULONG OutputBufferLength,
                                         BOOLEAN InternalDeviceIoControl, PKEVENT Event,
                                         PIO_STATUS_BLOCK IoStatusBlock) {
  emu::RequireIrqlAtMost(PASSIVE_LEVEL, "IoBuildDeviceIoControlRequest");
  PIRP irp = emu::NewIrp(DeviceObject->StackSize, emu::IrpKind::Threaded);
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->MajorFunction =
      InternalDeviceIoControl ? IRP_MJ_INTERNAL_DEVICE_CONTROL : IRP_MJ_DEVICE_CONTROL;
  next->Parameters.DeviceIoControl.IoControlCode = IoControlCode;
  next->Parameters.DeviceIoControl.InputBufferLength = InputBufferLength;
  next->Parameters.DeviceIoControl.OutputBufferLength = OutputBufferLength;
  next->Parameters.DeviceIoControl.Type3InputBuffer = InputBuffer;
  irp->UserBuffer = OutputBuffer;
  irp->UserEvent = Event;
  irp->UserIosb = IoStatusBlock;
  return irp;
}

NTSTATUS FASTCALL IofCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  emu::RequireIrqlAtMost(DISPATCH_LEVEL, "IoCallDriver");
  emu::RequireNoDriverLock("IoCallDriver");
  {
    std::lock_guard<std::mutex> lock(emu::irpMutex);
    emu::IrpRecord& record = emu::Lookup(Irp, "IoCallDriver");
    if (record.owner != emu::IrpOwner::Driver) {
      emu::BugCheck("INVALID_IRP", "IoCallDriver on an IRP that a lower driver already holds");
    }
    record.owner = emu::IrpOwner::LowerDriver;
  }
  IoSetNextIrpStackLocation(Irp);
  if (Irp->CurrentLocation <= 0) {
    emu::BugCheck("NO_MORE_IRP_STACK_LOCATIONS", "IoCallDriver with no stack location left");
  }
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
  stack->DeviceObject = DeviceObject;
  PDRIVER_DISPATCH dispatch = DeviceObject->DriverObject->MajorFunction[stack->MajorFunction];
  return dispatch(DeviceObject, Irp);
}

VOID FASTCALL IofCompleteRequest(PIRP Irp, CCHAR PriorityBoost) {
  UNREFERENCED_PARAMETER(PriorityBoost);
  emu::RequireIrqlAtMost(DISPATCH_LEVEL, "IoCompleteRequest");
  if (Irp->IoStatus.Status == STATUS_PENDING) {
    emu::BugCheck("MULTIPLE_IRP_COMPLETE_REQUESTS", "an IRP completed with STATUS_PENDING");
  }
  {
    std::lock_guard<std::mutex> lock(emu::irpMutex);
    emu::Lookup(Irp, "IoCompleteRequest").owner = emu::IrpOwner::Driver;
  }
  while (Irp->CurrentLocation <= Irp->StackCount) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
    Irp->PendingReturned = (stack->Control & SL_PENDING_RETURNED) != 0;
    Irp->CurrentLocation++;
    Irp->Tail.Overlay.CurrentStackLocation++;
    bool invoke = emu::InvokeRoutine(stack, Irp);
    if (invoke) {
      PDEVICE_OBJECT device = Irp->CurrentLocation <= Irp->StackCount
                                  ? IoGetCurrentIrpStackLocation(Irp)->DeviceObject
                                  : nullptr;
      KIRQL irql = KeGetCurrentIrql();
      NTSTATUS status = stack->CompletionRoutine(device, Irp, stack->Context);
      emu::RequireCleanReturn(irql, "an I/O completion routine");
      if (status == STATUS_MORE_PROCESSING_REQUIRED) {
        return;
      }
    } else if (Irp->PendingReturned && Irp->CurrentLocation <= Irp->StackCount) {
      IoMarkIrpPending(Irp);
    }
  }
  emu::IrpKind kind;
  {
    std::lock_guard<std::mutex> lock(emu::irpMutex);
    kind = emu::Lookup(Irp, "IoCompleteRequest").kind;
  }
  if (kind != emu::IrpKind::Threaded) {
    emu::BugCheck("INVALID_IRP",
                  "an IRP from IoAllocateIrp was completed back to the I/O manager; its "
                  "completion routine must keep it (STATUS_MORE_PROCESSING_REQUIRED) and free it");
  }
  if (Irp->UserIosb != nullptr) {
    *Irp->UserIosb = Irp->IoStatus;
  }
  PKEVENT event = Irp->UserEvent;
  emu::ReleaseIrp(Irp);
  if (event != nullptr) {
    KeSetEvent(event, IO_NO_INCREMENT, FALSE);
  }
}

VOID NTAPI IoAcquireCancelSpinLock(PKIRQL Irql) {
  emu::RequireIrqlAtMost(DISPATCH_LEVEL, "IoAcquireCancelSpinLock");
  emu::cancelMutex.lock();
  *Irql = emu::CurrentIrql();
  emu::SetCurrentIrql(DISPATCH_LEVEL);
}

VOID NTAPI IoReleaseCancelSpinLock(KIRQL Irql) {
  emu::SetCurrentIrql(Irql);
  emu::cancelMutex.unlock();
}

PDRIVER_CANCEL NTAPI IoSetCancelRoutine(PIRP Irp, PDRIVER_CANCEL CancelRoutine) {
  return __atomic_exchange_n(&Irp->CancelRoutine, CancelRoutine, __ATOMIC_ACQ_REL);
}

BOOLEAN NTAPI IoCancelIrp(PIRP Irp) {
  emu::RequireIrqlAtMost(DISPATCH_LEVEL, "IoCancelIrp");
  emu::RequireNoDriverLock("IoCancelIrp");
  {
    std::lock_guard<std::mutex> lock(emu::irpMutex);
    emu::Lookup(Irp, "IoCancelIrp");
  }
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  __atomic_store_n(&Irp->Cancel, TRUE, __ATOMIC_RELEASE);
  PDRIVER_CANCEL routine = IoSetCancelRoutine(Irp, nullptr);
  if (routine == nullptr) {
    IoReleaseCancelSpinLock(irql);
    return FALSE;
  }
  Irp->CancelIrql = irql;
  routine(IoGetCurrentIrpStackLocation(Irp)->DeviceObject, Irp);
  return TRUE;
}

}  // extern "C"
