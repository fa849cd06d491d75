#include "crash/havok_statistics.h"

#include <windows.h>

#include <cstdint>

#include "base/game_access.h"
#include "base/guarded_call.h"
#include "base/log.h"
#include "crash/crash_addresses.h"

namespace {

// The block in the game's slot holds the thread's allocators (Temp, Heap,
// Debug, Solver in that order).
constexpr size_t kHavokAllocatorOffsets[] = {0x28, 0x2C, 0x30, 0x34};
const char* const kHavokAllocatorNames[] = {"Temp", "Heap", "Debug", "Solver"};
// Virtual function 8 of an allocator fills its statistics record.
constexpr size_t kStatisticsSlot = 8;

struct HavokStatistics {
  int32_t allocated;
  int32_t inUse;
  int32_t peakInUse;
  int32_t available;
  int32_t totalAvailable;
  int32_t largestBlock;
};

using StatisticsFunction = GameThisCall<void, void*, HavokStatistics*>;

PluginLog& Log() { return GetLog(); }

struct AllocatorQuery {
  const void* block;
  size_t offset;  // of the allocator pointer in the block
  void* allocator;
  HavokStatistics statistics;
};

void QueryAllocator(void* argument) {
  auto* query = static_cast<AllocatorQuery*>(argument);
  query->allocator = GameField<void*>(query->block, query->offset);
  if (query->allocator == nullptr) return;
  GameVirtual<StatisticsFunction>(query->allocator, kStatisticsSlot)(query->allocator, &query->statistics);
}

void ReadBlockSlot(void* argument) {
  *static_cast<DWORD*>(argument) = GameGlobal<DWORD>(game::kHavokBlockSlot);
}

}  // namespace

// The block and the game's allocators are of unknown state after a crash.
const void* CurrentHavokBlock() {
  DWORD slot = TLS_OUT_OF_INDEXES;
  if (GuardedCall(ReadBlockSlot, &slot) != 0) return nullptr;
  return TlsGetValue(slot);
}

void LogHavokStatistics(const void* havokBlock) {
  if (havokBlock == nullptr) return;
  LogLine(Log(), LogError, "Thread local Havok memory heap:");
  for (size_t i = 0; i < 4; ++i) {
    // Each allocator starts from "unknown": a missing allocator, or one that
    // leaves fields unfilled, never shows another allocator's numbers.
    AllocatorQuery query = {havokBlock, kHavokAllocatorOffsets[i], nullptr, {-1, -1, -1, -1, -1, -1}};
    GuardedCall(QueryAllocator, &query);
    const char* name = kHavokAllocatorNames[i];
    const HavokStatistics& s = query.statistics;
    LogLine(Log(), LogError, "\t%s memory allocator:0x%08x", name,
            static_cast<unsigned>(reinterpret_cast<uintptr_t>(query.allocator)));
    LogLine(Log(), LogError, "\t%s memory allocated:%d", name, s.allocated);
    LogLine(Log(), LogError, "\t%s memory in used:%d", name, s.inUse);
    LogLine(Log(), LogError, "\t%s memory available:%d", name, s.available);
    LogLine(Log(), LogError, "\t%s memory total available:%d", name, s.totalAvailable);
    LogLine(Log(), LogError, "\t%s memory largest block:%d", name, s.largestBlock);
  }
}
