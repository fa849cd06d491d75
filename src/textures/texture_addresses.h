#pragma once

// The game addresses of the inserted sleep; shared with inserted_sleep.S.

#include "base/game_address.h"

// InsertedSleepJump replaces the 6-byte load of ECX from
// kInsertedSleepEcxSource; the stub goes on at kInsertedSleepContinue.
GAME_ADDRESS(kInsertedSleepJump, 0x6f4099)
GAME_ADDRESS(kInsertedSleepContinue, 0x6f409f)
GAME_ADDRESS(kInsertedSleepEcxSource, 0x1bc0294)
