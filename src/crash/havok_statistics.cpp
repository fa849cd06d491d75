#include "crash/havok_statistics.h"

#include <windows.h>

#include <cstdint>

#include "base/guarded_call.h"
#include "crash/crash_addresses.h"
#include "base/log.h"

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

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes"
using StatisticsFunction = void(__thiscall*)(void* allocator, HavokStatistics* statistics);
#pragma GCC diagnostic pop

PluginLog& Log() { return GetLog(); }

struct AllocatorQuery {
  const uint8_t* field;  // the allocator pointer's place in the block
  void* allocator;
  HavokStatistics statistics;
};

void QueryAllocator(void* argument) {
  auto* query = static_cast<AllocatorQuery*>(argument);
  query->allocator = *reinterpret_cast<void* const*>(query->field);
  if (query->allocator == nullptr) return;
  auto table = *static_cast<StatisticsFunction* const*>(query->allocator);
  table[kStatisticsSlot](query->allocator, &query->statistics);
}

void ReadBlockSlot(void* argument) {
  *static_cast<DWORD*>(argument) = *reinterpret_cast<const DWORD*>(game::kHavokBlockSlot);
}

}  // namespace

// The block and the game's allocators are of unknown state after a crash.
const void* CurrentHavokBlock() {
  DWORD slot = TLS_OUT_OF_INDEXES;
  if (GuardedCall(ReadBlockSlot, &slot) != 0) return nullptr;
  return TlsGetValue(slot);
}

void LogHavokStatistics(const void* havokBlock) {
  auto* block = static_cast<const uint8_t*>(havokBlock);
  if (block == nullptr) return;
  LogLine(Log(), LogError, "Thread local Havok memory heap:");
  for (size_t i = 0; i < 4; ++i) {
    // Each allocator starts from "unknown": a missing allocator, or one that
    // leaves fields unfilled, never shows another allocator's numbers.
    AllocatorQuery query = {block + kHavokAllocatorOffsets[i], nullptr, {-1, -1, -1, -1, -1, -1}};
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
