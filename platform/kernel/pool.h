// Executive pool with a tracker: every block is recorded with its tag and
// guarded by fill bytes on both sides; misuse (unknown pointer, double free,
// overrun, paged pool above APC_LEVEL) bug-checks. Allocations can be made to
// fail on demand to reach a driver's failure paths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

extern "C" {
#include <wdm.h>
}

namespace emu {

struct PoolAllocation {
  ULONG tag;
  size_t size;
  POOL_TYPE type;
};

class Pool {
 public:
  // Blocks currently held, by tag (count and bytes).
  struct TagUsage {
    size_t blocks = 0;
    size_t bytes = 0;
  };
  static std::map<std::string, TagUsage> HeldByTag();
  static size_t HeldBlocks();

  // Bug check listing every block still held (by tag), if any; also checks
  // the guard bytes of every held block.
  static void CheckNoLeaks(const std::string& when);

  // Allocations made since the process started (the serial of the next one
  // minus one); used to aim a failure at one allocation.
  static uint64_t AllocationCount();

  // Fault injection. A rule sees every allocation and fails the ones for
  // which it returns true. FailNth counts from the call: FailNth(1) fails the
  // very next allocation, once.
  static void FailWhen(std::function<bool(const PoolAllocation&)> rule);
  static void FailNth(uint64_t n);
  static void FailEvery(uint64_t n);
  static void FailTag(ULONG tag);
  static void ClearFailures();

  static std::string TagName(ULONG tag);
};

}  // namespace emu
