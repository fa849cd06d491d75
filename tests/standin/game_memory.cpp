#include "standin/game_memory.h"

#include <windows.h>

#include <stdexcept>

#include "standin/standin.h"

#define GAME_ROUTINE(name) extern "C" const char name##Begin[], name##End[];
GAME_ROUTINE(GameSpinLockEnter)
GAME_ROUTINE(GameSpinLockLeave)
GAME_ROUTINE(GameGatedCall)
GAME_ROUTINE(GameTableEntry)
GAME_ROUTINE(GameReleaseRange)
GAME_ROUTINE(GameSlotLookup)
GAME_ROUTINE(GameFormHeapPassThrough)
GAME_ROUTINE(GameFormHeapAllocate)
GAME_ROUTINE(GameFormHeapReserve)
GAME_ROUTINE(GameEmptyObjectDestroy)
GAME_ROUTINE(GameEmptyObjectConstruct)
GAME_ROUTINE(GameEventWait)
GAME_ROUTINE(GameTrackedCall)
GAME_ROUTINE(GameResourceRelease)
GAME_ROUTINE(GameResourceLocked2)
GAME_ROUTINE(GameResourceLocked1)
GAME_ROUTINE(GameHavokAllocate)
GAME_ROUTINE(GameHavokFree)
#undef GAME_ROUTINE

namespace standin {
namespace {

struct Routine {
  uint32_t address;
  const char* begin;
  const char* end;
};

#define ROUTINE(address, name) \
  { address, name##Begin, name##End }
const Routine kRoutines[] = {
    ROUTINE(game::kSpinLockEnter, GameSpinLockEnter),
    ROUTINE(kGameSpinLockLeave, GameSpinLockLeave),
    ROUTINE(game::kGatedCall, GameGatedCall),
    ROUTINE(game::kTableEntry, GameTableEntry),
    ROUTINE(kGameReleaseRange, GameReleaseRange),
    ROUTINE(game::kSlotLookup, GameSlotLookup),
    ROUTINE(game::kFormHeapPassThrough, GameFormHeapPassThrough),
    ROUTINE(game::kFormHeapAllocate, GameFormHeapAllocate),
    ROUTINE(kGameFormHeapReserve, GameFormHeapReserve),
    ROUTINE(game::kEmptyObjectDestroy, GameEmptyObjectDestroy),
    ROUTINE(game::kEmptyObjectConstruct, GameEmptyObjectConstruct),
    ROUTINE(game::kEventWait, GameEventWait),
    ROUTINE(game::kTrackedCall, GameTrackedCall),
    ROUTINE(game::kHavokResourceRelease, GameResourceRelease),
    ROUTINE(game::kHavokResourceLocked2, GameResourceLocked2),
    ROUTINE(game::kHavokResourceLocked1, GameResourceLocked1),
    ROUTINE(game::kHavokHeapAllocate, GameHavokAllocate),
    ROUTINE(game::kHavokHeapFree, GameHavokFree),
};
#undef ROUTINE

}  // namespace

void PlaceGameMemory() {
  for (const Routine& routine : kRoutines) {
    PlaceInGame(routine.address, routine.begin, static_cast<size_t>(routine.end - routine.begin));
  }
  // The destructor has 16 bytes before the constructor.
  if (GameEmptyObjectDestroyEnd - GameEmptyObjectDestroyBegin > 16)
    throw std::logic_error("destructor too long");
  GameGlobal<void*>(kWaitForSingleObjectSlot) = reinterpret_cast<void*>(&WaitForSingleObject);
  GameGlobal<uint32_t>(kHavokArenaNext) = kHavokArena;
}

}  // namespace standin
