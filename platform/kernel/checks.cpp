// Per-thread IRQL and driver-lock bookkeeping, and the bug check.
#include "checks.h"

#include <cstdio>
#include <cstdlib>
#include <thread>

namespace emu {
namespace {

thread_local KIRQL currentIrql = PASSIVE_LEVEL;
thread_local const void* heldLock = nullptr;
thread_local int heldLocks = 0;

}  // namespace

void BugCheck(const std::string& rule, const std::string& detail) {
  std::fprintf(stderr, "\n*** BUG CHECK (%s): %s\n", rule.c_str(), detail.c_str());
  std::fflush(stderr);
  std::abort();
}

KIRQL CurrentIrql() { return currentIrql; }

void SetCurrentIrql(KIRQL irql) { currentIrql = irql; }

void RequireIrqlAtMost(KIRQL max, const char* routine) {
  if (currentIrql > max) {
    BugCheck("IRQL_NOT_LESS_OR_EQUAL", std::string(routine) + " called at IRQL " +
                                           std::to_string(currentIrql) + ", above " +
                                           std::to_string(max));
  }
}

void RequireNoDriverLock(const char* routine) {
  if (heldLocks != 0) {
    BugCheck("SPIN_LOCK_HELD_ACROSS_CALL",
             std::string(routine) + " called while the driver holds a spin lock");
  }
}

int DriverLocksHeld() { return heldLocks; }

void NoteDriverLockAcquired(const void* lock) {
  if (heldLocks != 0) {
    BugCheck("SPIN_LOCK_NESTING", heldLock == lock
                                      ? "a spin lock acquired again by its owner"
                                      : "a second driver spin lock acquired while one is held");
  }
  heldLock = lock;
  heldLocks = 1;
}

void NoteDriverLockReleased(const void* lock) {
  if (heldLocks == 0 || heldLock != lock) {
    BugCheck("SPIN_LOCK_NOT_OWNED", "a spin lock released by a thread that does not hold it");
  }
  heldLock = nullptr;
  heldLocks = 0;
}

IrqlScope::IrqlScope(KIRQL irql) : previous_(currentIrql) { currentIrql = irql; }

IrqlScope::~IrqlScope() { currentIrql = previous_; }

void RequireCleanReturn(KIRQL entryIrql, const char* callback) {
  if (heldLocks != 0) {
    BugCheck("SPIN_LOCK_HELD_ACROSS_CALL",
             std::string(callback) + " returned while holding a spin lock");
  }
  if (currentIrql != entryIrql) {
    BugCheck("IRQL_MISMATCH", std::string(callback) + " returned at IRQL " +
                                  std::to_string(currentIrql) + ", entered at " +
                                  std::to_string(entryIrql));
  }
}

}  // namespace emu

extern "C" {

KIRQL NTAPI KeGetCurrentIrql(VOID) { return emu::CurrentIrql(); }

KIRQL FASTCALL KfRaiseIrql(KIRQL NewIrql) {
  KIRQL old = emu::CurrentIrql();
  if (NewIrql < old) {
    emu::BugCheck("IRQL_NOT_GREATER_OR_EQUAL", "KeRaiseIrql to a lower IRQL");
  }
  emu::SetCurrentIrql(NewIrql);
  return old;
}

VOID FASTCALL KfLowerIrql(KIRQL NewIrql) {
  if (NewIrql > emu::CurrentIrql()) {
    emu::BugCheck("IRQL_NOT_LESS_OR_EQUAL", "KeLowerIrql to a higher IRQL");
  }
  emu::SetCurrentIrql(NewIrql);
}

VOID NTAPI KeInitializeSpinLock(PKSPIN_LOCK SpinLock) {
  __atomic_store_n(SpinLock, 0, __ATOMIC_RELAXED);
}

KIRQL FASTCALL KfAcquireSpinLock(PKSPIN_LOCK SpinLock) {
  emu::RequireIrqlAtMost(DISPATCH_LEVEL, "KeAcquireSpinLock");
  emu::NoteDriverLockAcquired(SpinLock);
  KIRQL old = emu::CurrentIrql();
  emu::SetCurrentIrql(DISPATCH_LEVEL);
  ULONG_PTR expected = 0;
  while (!__atomic_compare_exchange_n(SpinLock, &expected, 1, false, __ATOMIC_ACQUIRE,
                                      __ATOMIC_RELAXED)) {
    expected = 0;
    std::this_thread::yield();
  }
  return old;
}

VOID FASTCALL KfReleaseSpinLock(PKSPIN_LOCK SpinLock, KIRQL NewIrql) {
  if (__atomic_load_n(SpinLock, __ATOMIC_RELAXED) == 0) {
    emu::BugCheck("SPIN_LOCK_NOT_OWNED", "a spin lock released that is not held");
  }
  emu::NoteDriverLockReleased(SpinLock);
  __atomic_store_n(SpinLock, 0, __ATOMIC_RELEASE);
  KfLowerIrql(NewIrql);
}

}  // extern "C"
