// Tracked pool. Each block is laid out as [header | guard | user bytes |
// guard]; the header records the block, the guards catch overruns at free
// and at leak checks. New blocks are filled with 0xCD so code that relies on
// zeroed pool shows itself; freed blocks are filled with 0xDD before release.
#include "pool.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "checks.h"

namespace emu {
namespace {

constexpr size_t GuardSize = 16;
constexpr unsigned char GuardByte = 0xFD;
constexpr unsigned char FreshByte = 0xCD;
constexpr unsigned char FreedByte = 0xDD;
constexpr size_t HeaderSize = 32;  // keeps user blocks 16-byte aligned

struct Block {
  ULONG tag;
  size_t size;
  POOL_TYPE type;
  unsigned char* base;
};

struct PoolState {
  std::mutex mutex;
  std::unordered_map<void*, Block> live;
  std::unordered_set<void*> recentlyFreed;
  uint64_t serial = 0;
  std::function<bool(const PoolAllocation&)> failRule;
};

PoolState& State() {
  static PoolState* state = new PoolState;
  return *state;
}

bool GuardsIntact(const Block& block) {
  const unsigned char* front = block.base + HeaderSize;
  const unsigned char* back = front + GuardSize + block.size;
  for (size_t i = 0; i < GuardSize; i++) {
    if (front[i] != GuardByte || back[i] != GuardByte) {
      return false;
    }
  }
  return true;
}

std::string Describe(const Block& block) {
  return "block of " + std::to_string(block.size) + " bytes, tag '" + Pool::TagName(block.tag) +
         "'";
}

}  // namespace

std::string Pool::TagName(ULONG tag) {
  std::string name;
  for (int i = 0; i < 4; i++) {
    char c = static_cast<char>((tag >> (8 * i)) & 0xFF);
    name += (c >= 32 && c < 127) ? c : '?';
  }
  return name;
}

std::map<std::string, Pool::TagUsage> Pool::HeldByTag() {
  std::lock_guard<std::mutex> lock(State().mutex);
  std::map<std::string, TagUsage> usage;
  for (const auto& [pointer, block] : State().live) {
    TagUsage& entry = usage[TagName(block.tag)];
    entry.blocks++;
    entry.bytes += block.size;
  }
  return usage;
}

size_t Pool::HeldBlocks() {
  std::lock_guard<std::mutex> lock(State().mutex);
  return State().live.size();
}

void Pool::CheckNoLeaks(const std::string& when) {
  std::string report;
  {
    std::lock_guard<std::mutex> lock(State().mutex);
    for (const auto& [pointer, block] : State().live) {
      if (!GuardsIntact(block)) {
        BugCheck("POOL_CORRUPTION", "overrun of a " + Describe(block));
      }
    }
  }
  for (const auto& [tag, usage] : HeldByTag()) {
    report += " '" + tag + "': " + std::to_string(usage.blocks) + " block(s), " +
              std::to_string(usage.bytes) + " bytes;";
  }
  if (!report.empty()) {
    BugCheck("DRIVER_LEFT_POOL_ALLOCATED", "pool still held " + when + ":" + report);
  }
}

uint64_t Pool::AllocationCount() {
  std::lock_guard<std::mutex> lock(State().mutex);
  return State().serial;
}

void Pool::FailWhen(std::function<bool(const PoolAllocation&)> rule) {
  std::lock_guard<std::mutex> lock(State().mutex);
  State().failRule = std::move(rule);
}

void Pool::FailNth(uint64_t n) {
  auto remaining = std::make_shared<uint64_t>(n);
  FailWhen([remaining](const PoolAllocation&) { return --*remaining == 0; });
}

void Pool::FailEvery(uint64_t n) {
  auto count = std::make_shared<uint64_t>(0);
  FailWhen([count, n](const PoolAllocation&) { return ++*count % n == 0; });
}

void Pool::FailTag(ULONG tag) {
  FailWhen([tag](const PoolAllocation& allocation) { return allocation.tag == tag; });
}

void Pool::ClearFailures() { FailWhen(nullptr); }

}  // namespace emu

using emu::Block;
using emu::GuardByte;
using emu::GuardSize;
using emu::HeaderSize;

extern "C" {

PVOID NTAPI ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag) {
  bool paged = PoolType == PagedPool || PoolType == PagedPoolCacheAligned;
  emu::RequireIrqlAtMost(paged ? APC_LEVEL : DISPATCH_LEVEL, "ExAllocatePoolWithTag");
  if (Tag == 0) {
    emu::BugCheck("BAD_POOL_CALLER", "ExAllocatePoolWithTag with tag 0");
  }
  emu::PoolState& state = emu::State();
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    state.serial++;
    if (state.failRule && state.failRule(emu::PoolAllocation{Tag, NumberOfBytes, PoolType})) {
      return nullptr;
    }
  }
  auto* base = static_cast<unsigned char*>(std::malloc(HeaderSize + 2 * GuardSize + NumberOfBytes));
  if (base == nullptr) {
    return nullptr;
  }
  std::memset(base, 0, HeaderSize);
  std::memset(base + HeaderSize, GuardByte, GuardSize);
  unsigned char* user = base + HeaderSize + GuardSize;
  std::memset(user, emu::FreshByte, NumberOfBytes);
  std::memset(user + NumberOfBytes, GuardByte, GuardSize);
  std::lock_guard<std::mutex> lock(state.mutex);
  state.recentlyFreed.erase(user);
  state.live[user] = Block{Tag, NumberOfBytes, PoolType, base};
  return user;
}

VOID NTAPI ExFreePoolWithTag(PVOID P, ULONG Tag) {
  emu::RequireIrqlAtMost(DISPATCH_LEVEL, "ExFreePool");
  emu::PoolState& state = emu::State();
  Block block;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    auto it = state.live.find(P);
    if (it == state.live.end()) {
      emu::BugCheck("BAD_POOL_CALLER", state.recentlyFreed.count(P) != 0
                                           ? "a pool block freed twice"
                                           : "ExFreePool of a pointer the pool never gave out");
    }
    block = it->second;
    if (Tag != 0 && Tag != block.tag) {
      emu::BugCheck("BAD_POOL_CALLER", "ExFreePoolWithTag with tag '" + emu::Pool::TagName(Tag) +
                                           "' on a " + emu::Describe(block));
    }
    if (!emu::GuardsIntact(block)) {
      emu::BugCheck("POOL_CORRUPTION", "overrun of a " + emu::Describe(block));
    }
    state.live.erase(it);
    if (state.recentlyFreed.size() > 65536) {
      state.recentlyFreed.clear();
    }
    state.recentlyFreed.insert(P);
  }
  std::memset(P, emu::FreedByte, block.size);
  std::free(block.base);
}

VOID NTAPI ExFreePool(PVOID P) { ExFreePoolWithTag(P, 0); }

}  // extern "C"
