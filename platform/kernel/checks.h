// The platform's rule checker: the per-thread IRQL, the driver spin locks a
// thread holds, and the bug check that stops the process when the driver
// breaks a rule of the real platform.
#pragma once

#include <cstdint>
#include <string>

extern "C" {
#include <wdm.h>
}

namespace emu {

// Stops the process with a clear message naming the rule that was broken.
[[noreturn]] void BugCheck(const std::string& rule, const std::string& detail);

// IRQL of the calling thread; every thread starts at PASSIVE_LEVEL.
KIRQL CurrentIrql();
void SetCurrentIrql(KIRQL irql);

// Bug check unless the caller runs at or below `max`.
void RequireIrqlAtMost(KIRQL max, const char* routine);

// Bug check when the calling thread holds a driver spin lock; every call out
// of the driver into the platform that may call back or block checks this.
void RequireNoDriverLock(const char* routine);

// Number of driver spin locks the calling thread holds (0 or 1).
int DriverLocksHeld();
void NoteDriverLockAcquired(const void* lock);
void NoteDriverLockReleased(const void* lock);

// Runs a scope at the given IRQL on the calling thread (host side: delivering
// requests at DISPATCH_LEVEL, completing transfers from a controller thread).
class IrqlScope {
 public:
  explicit IrqlScope(KIRQL irql);
  ~IrqlScope();
  IrqlScope(const IrqlScope&) = delete;
  IrqlScope& operator=(const IrqlScope&) = delete;

 private:
  KIRQL previous_;
};

// Checks that a call into the driver left the thread as it found it: same
// IRQL, no driver lock held.
void RequireCleanReturn(KIRQL entryIrql, const char* callback);

}  // namespace emu
