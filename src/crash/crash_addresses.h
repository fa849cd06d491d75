#pragma once

// The game addresses that crash handling uses.

#include "base/game_address.h"

// The game's own top-level exception filter.
GAME_ADDRESS(kTopLevelFilter, 0xcac8a0)

// The game's save manager (a pointer in a game global) and its save routine,
// a member function taking the save name, -1 and 0.
GAME_ADDRESS(kSaveManager, 0x1b2e3a8)
GAME_ADDRESS(kSaveGame, 0x6814d0)

// The slot of each thread's Havok memory block.
GAME_ADDRESS(kHavokBlockSlot, 0x1bb6b08)
