#include "standin/game_crash.h"

#include <windows.h>

#include <cstdio>

#include "standin/standin.h"

extern "C" const char GameTopLevelFilterBegin[], GameTopLevelFilterEnd[];
extern "C" const char GameSaveGameBegin[], GameSaveGameEnd[];
extern "C" const char GameAllocatorStatistics[], GameAllocatorStatisticsFaulty[],
    GameAllocatorStatisticsHang[], GameAllocatorStatisticsHangLocked[], GameAllocatorStatisticsBreak[];

void (*NoFrameReturnRecorder)(uintptr_t) = nullptr;

namespace standin {
namespace {

SaveBehaviour saveBehaviour;

constexpr size_t kStatisticsSlot = 8;
// One table per AllocatorBehaviour.
const char* const kStatisticsRoutines[] = {GameAllocatorStatistics, GameAllocatorStatisticsFaulty,
                                           GameAllocatorStatisticsHang, GameAllocatorStatisticsHangLocked,
                                           GameAllocatorStatisticsBreak};
const void* allocatorTables[5][kStatisticsSlot + 1];

void Place(uint32_t address, const char* begin, const char* end) {
  PlaceInGame(address, begin, static_cast<size_t>(end - begin));
}

}  // namespace

void MakeGameAllocator(GameAllocator& allocator, const int32_t (&statistics)[6],
                       AllocatorBehaviour behaviour) {
  for (int i = 0; i < 5; ++i) allocatorTables[i][kStatisticsSlot] = kStatisticsRoutines[i];
  allocator.vtable = allocatorTables[static_cast<int>(behaviour)];
  for (int i = 0; i < 6; ++i) allocator.statistics[i] = statistics[i];
}

void PlaceGameCrashRoutines(SaveBehaviour behaviour) {
  saveBehaviour = behaviour;
  Place(game::kTopLevelFilter, GameTopLevelFilterBegin, GameTopLevelFilterEnd);
  Place(game::kSaveGame, GameSaveGameBegin, GameSaveGameEnd);
}

}  // namespace standin

// The save routine's body: records the call, then behaves as asked.
extern "C" void GameSaveGameRecord(void* manager, const char* name, int32_t value1, int32_t value2) {
  if (FILE* record = std::fopen(standin::kSaveRecordPath, "a")) {
    std::fprintf(record, "%08x %s %d %d %lu\n", static_cast<unsigned>(reinterpret_cast<uintptr_t>(manager)),
                 name, static_cast<int>(value1), static_cast<int>(value2), GetCurrentThreadId());
    std::fclose(record);
  }
  switch (standin::saveBehaviour) {
    case standin::SaveBehaviour::ReturnAfter2ms:
      Sleep(2);
      break;
    case standin::SaveBehaviour::Block:
      Sleep(INFINITE);
      break;
    case standin::SaveBehaviour::Fault: {
      volatile int* volatile nowhere = nullptr;
      *nowhere = 0;
      break;
    }
  }
}
