// Non-paged lookaside lists. Entries come from the tracked pool under the
// list's tag (a list keeps no cache here, so every entry is checked like any
// pool block); the list counts its outstanding entries and bug-checks when it
// is deleted with entries not returned, or given an entry it did not hand out.
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "checks.h"
#include "pool.h"

namespace {

struct ListState {
  std::unordered_set<void*> outstanding;
};

std::mutex listMutex;
std::unordered_map<const void*, ListState>& Lists() {
  static auto* lists = new std::unordered_map<const void*, ListState>;
  return *lists;
}

ListState& Find(const void* list, const char* routine) {
  auto it = Lists().find(list);
  if (it == Lists().end()) {
    emu::BugCheck("LOOKASIDE_LIST", std::string(routine) + " on a list that is not initialized");
  }
  return it->second;
}

}  // namespace

extern "C" {

VOID NTAPI ExInitializeNPagedLookasideList(PNPAGED_LOOKASIDE_LIST Lookaside,
                                           PALLOCATE_FUNCTION Allocate, PFREE_FUNCTION Free,
                                           ULONG Flags, SIZE_T Size, ULONG Tag, USHORT Depth) {
  emu::RequireIrqlAtMost(DISPATCH_LEVEL, "ExInitializeNPagedLookasideList");
  UNREFERENCED_PARAMETER(Flags);
  UNREFERENCED_PARAMETER(Depth);
  std::lock_guard<std::mutex> lock(listMutex);
  if (Lists().count(Lookaside) != 0) {
    emu::BugCheck("LOOKASIDE_LIST", "a lookaside list initialized twice without being deleted");
  }
  Lists()[Lookaside] = ListState{};
  std::memset(Lookaside, 0, sizeof(*Lookaside));
  Lookaside->L.Type = NonPagedPool;
  Lookaside->L.Tag = Tag;
  Lookaside->L.Size = static_cast<ULONG>(Size);
  Lookaside->L.Allocate = Allocate != nullptr ? Allocate : ExAllocatePoolWithTag;
  Lookaside->L.Free = Free != nullptr ? Free : ExFreePool;
}

VOID NTAPI ExDeleteNPagedLookasideList(PNPAGED_LOOKASIDE_LIST Lookaside) {
  emu::RequireIrqlAtMost(DISPATCH_LEVEL, "ExDeleteNPagedLookasideList");
  std::lock_guard<std::mutex> lock(listMutex);
  ListState& list = Find(Lookaside, "ExDeleteNPagedLookasideList");
  if (!list.outstanding.empty()) {
    emu::BugCheck("LOOKASIDE_LIST", "lookaside list '" + emu::Pool::TagName(Lookaside->L.Tag) +
                                        "' deleted with " +
                                        std::to_string(list.outstanding.size()) +
                                        " entries not returned");
  }
  Lists().erase(Lookaside);
}

PVOID NTAPI ExAllocateFromNPagedLookasideList(PNPAGED_LOOKASIDE_LIST Lookaside) {
  emu::RequireIrqlAtMost(DISPATCH_LEVEL, "ExAllocateFromNPagedLookasideList");
  {
    std::lock_guard<std::mutex> lock(listMutex);
    Find(Lookaside, "ExAllocateFromNPagedLookasideList");
  }
  PVOID entry = Lookaside->L.Allocate(Lookaside->L.Type, Lookaside->L.Size, Lookaside->L.Tag);
  if (entry != nullptr) {
    std::lock_guard<std::mutex> lock(listMutex);
    Find(Lookaside, "ExAllocateFromNPagedLookasideList").outstanding.insert(entry);
    __atomic_add_fetch(&Lookaside->L.TotalAllocates, 1, __ATOMIC_RELAXED);
  }
  return entry;
}

VOID NTAPI ExFreeToNPagedLookasideList(PNPAGED_LOOKASIDE_LIST Lookaside, PVOID Entry) {
  emu::RequireIrqlAtMost(DISPATCH_LEVEL, "ExFreeToNPagedLookasideList");
  {
    std::lock_guard<std::mutex> lock(listMutex);
    ListState& list = Find(Lookaside, "ExFreeToNPagedLookasideList");
    if (list.outstanding.erase(Entry) == 0) {
      emu::BugCheck("LOOKASIDE_LIST", "an entry returned to a lookaside list that did not give it out");
    }
    __atomic_add_fetch(&Lookaside->L.TotalFrees, 1, __ATOMIC_RELAXED);
  }
  Lookaside->L.Free(Entry);
}

}  // extern "C"
