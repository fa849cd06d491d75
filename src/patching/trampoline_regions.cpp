#include "patching/trampoline_regions.h"

#include <windows.h>

#include <cstdint>
#include <cstring>

#include "patching/region_search.h"

namespace {

struct TrampolineRegion {
  uint32_t signature;
  TrampolineRegion* next;
  Trampoline* freeHead;
};

TrampolineRegion* regionList;
// The region last allocated from; null after a release.
TrampolineRegion* currentRegion;

uint8_t* RegionBytes(TrampolineRegion* region) { return reinterpret_cast<uint8_t*>(region); }

Trampoline* Slot(TrampolineRegion* region, size_t index) {
  return reinterpret_cast<Trampoline*>(RegionBytes(region) + index * kTrampolineSlotSize);
}

bool InsideRegion(TrampolineRegion* region, const void* address) {
  uintptr_t a = reinterpret_cast<uintptr_t>(address);
  uintptr_t start = reinterpret_cast<uintptr_t>(region);
  return a >= start && a - start < kRegionSize;
}

TrampolineRegion* RegionOf(const void* slot) {
  return reinterpret_cast<TrampolineRegion*>(reinterpret_cast<uintptr_t>(slot) & ~uintptr_t{kRegionSize - 1});
}

const uint8_t* TargetOf(const Trampoline* slot) { return slot->remainder - slot->restoreLength; }

// Whether any slot other than `slot` in one of the given states has target
// bytes that meet [start, start + length).
bool AnyTargetMeets(const Trampoline* slot, uint8_t stateA, uint8_t stateB, const uint8_t* start,
                    size_t length) {
  for (TrampolineRegion* region = regionList; region != nullptr; region = region->next) {
    for (size_t index = kFirstTrampolineSlot; index <= kLastTrampolineSlot; ++index) {
      const Trampoline* other = Slot(region, index);
      if (other == slot || (other->state != stateA && other->state != stateB)) continue;
      if (TargetOf(other) < start + length && start < other->remainder) return true;
    }
  }
  return false;
}

// Whether a committed redirection other than `slot`'s own runs through
// `slot`'s code: its target lies inside the slot.
bool RunThrough(const Trampoline* slot) {
  return AnyTargetMeets(slot, kSlotLive, kSlotRetired, reinterpret_cast<const uint8_t*>(slot),
                        sizeof(Trampoline));
}

bool QueryBlock(void*, uint32_t address, AddressBlock* block) {
  MEMORY_BASIC_INFORMATION info;
  if (VirtualQuery(reinterpret_cast<void*>(static_cast<uintptr_t>(address)), &info, sizeof info) == 0) {
    return false;
  }
  block->base = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(info.BaseAddress));
  block->allocationBase = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(info.AllocationBase));
  block->size = info.RegionSize;
  block->free = info.State == MEM_FREE;
  return true;
}

bool AllocateBlock(void*, uint32_t address) {
  void* wanted = reinterpret_cast<void*>(static_cast<uintptr_t>(address));
  void* got = VirtualAlloc(wanted, kRegionSize, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
  if (got == wanted) return true;
  if (got != nullptr) VirtualFree(got, 0, MEM_RELEASE);
  return false;
}

TrampolineRegion* CreateRegion(const void* target) {
  AddressSpace space{QueryBlock, AllocateBlock, nullptr};
  uint32_t address = AllocateRegionNear(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(target)), space);
  if (address == 0) return nullptr;
  auto* region = reinterpret_cast<TrampolineRegion*>(static_cast<uintptr_t>(address));
  region->signature = kRegionSignature;
  region->freeHead = nullptr;
  region->next = regionList;
  regionList = region;
  // Fresh memory is zero: chain slots 3..909 in ascending order.
  for (size_t index = kLastTrampolineSlot; index >= kFirstTrampolineSlot; --index) {
    Trampoline* slot = Slot(region, index);
    slot->remainder = reinterpret_cast<uint8_t*>(region->freeHead);
    region->freeHead = slot;
  }
  currentRegion = region;
  return region;
}

bool HeadInReach(TrampolineRegion* region, const ReachWindow& window) {
  return region->freeHead != nullptr && InReach(window, reinterpret_cast<uintptr_t>(region->freeHead));
}

}  // namespace

Trampoline* AllocTrampoline(const void* target) {
  ReachWindow window = ReachWindowFor(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(target)));
  if (currentRegion == nullptr) currentRegion = regionList;
  if (currentRegion == nullptr || !HeadInReach(currentRegion, window)) {
    TrampolineRegion* found = nullptr;
    for (TrampolineRegion* region = regionList; region != nullptr && found == nullptr;
         region = region->next) {
      if (HeadInReach(region, window)) found = region;
    }
    if (found != nullptr) {
      currentRegion = found;
    } else if (CreateRegion(target) == nullptr) {
      return nullptr;
    }
  }
  if (!HeadInReach(currentRegion, window)) return nullptr;
  Trampoline* trampoline = currentRegion->freeHead;
  currentRegion->freeHead = reinterpret_cast<Trampoline*>(trampoline->remainder);
  std::memset(trampoline, 0xCC, sizeof *trampoline);
  trampoline->state = kSlotQueued;
  return trampoline;
}

void FreeTrampoline(Trampoline* trampoline) {
  std::memset(trampoline, 0, sizeof *trampoline);
  TrampolineRegion* region = RegionOf(trampoline);
  trampoline->remainder = reinterpret_cast<uint8_t*>(region->freeHead);
  region->freeHead = trampoline;
}

void MarkTrampolineLive(Trampoline* trampoline) { trampoline->state = kSlotLive; }

void RetireTrampoline(Trampoline* trampoline) { trampoline->state = kSlotRetired; }

void FreeRetiredTrampolines() {
  // Freeing one slot may let go of the slot it ran through: repeat until
  // nothing changes.
  for (bool freed = true; freed;) {
    freed = false;
    for (TrampolineRegion* region = regionList; region != nullptr; region = region->next) {
      for (size_t index = kFirstTrampolineSlot; index <= kLastTrampolineSlot; ++index) {
        Trampoline* slot = Slot(region, index);
        if (slot->state != kSlotRetired || RunThrough(slot)) continue;
        FreeTrampoline(slot);
        freed = true;
      }
    }
  }
}

void FreeEmptyRegions() {
  TrampolineRegion** link = &regionList;
  while (*link != nullptr) {
    TrampolineRegion* region = *link;
    bool empty = region->signature == kRegionSignature;
    for (size_t index = kFirstTrampolineSlot; empty && index <= kLastTrampolineSlot; ++index) {
      empty = Slot(region, index)->state == kSlotFree;
    }
    if (!empty) {
      link = &region->next;
      continue;
    }
    *link = region->next;
    VirtualFree(region, 0, MEM_RELEASE);
    currentRegion = nullptr;
  }
}

void MakeRegionsWritable() {
  for (TrampolineRegion* region = regionList; region != nullptr; region = region->next) {
    DWORD old;
    VirtualProtect(region, kRegionSize, PAGE_EXECUTE_READWRITE, &old);
  }
}

void MakeRegionsRunnable() {
  for (TrampolineRegion* region = regionList; region != nullptr; region = region->next) {
    DWORD old;
    VirtualProtect(region, kRegionSize, PAGE_EXECUTE_READ, &old);
    FlushInstructionCache(GetCurrentProcess(), region, kRegionSize);
  }
}

bool IsLiveTrampoline(const void* address) {
  for (TrampolineRegion* region = regionList; region != nullptr; region = region->next) {
    if (!InsideRegion(region, address)) continue;
    size_t offset = static_cast<size_t>(static_cast<const uint8_t*>(address) - RegionBytes(region));
    size_t index = offset / kTrampolineSlotSize;
    return offset % kTrampolineSlotSize == 0 && index >= kFirstTrampolineSlot &&
           index <= kLastTrampolineSlot && Slot(region, index)->state == kSlotLive;
  }
  return false;
}

bool RedirectedBytesMeet(const Trampoline* except, const void* start, size_t length) {
  return AnyTargetMeets(except, kSlotQueued, kSlotLive, static_cast<const uint8_t*>(start), length);
}

bool IsInTrampolineRegion(const void* address) {
  for (TrampolineRegion* region = regionList; region != nullptr; region = region->next) {
    if (InsideRegion(region, address)) return true;
  }
  return false;
}
