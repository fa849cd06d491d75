#pragma once

#include <cstdint>

#include "patching/transaction.h"

// The D3DX texture creation functions, found by name at installation (null
// when absent); after commit they hold the trampolines through which the
// replacements reach D3DX.
extern PatchSite CreateTextureFromFileInMemorySite;
extern PatchSite CreateTextureFromFileInMemoryExSite;

// The game routine that gets a 25 ms sleep: the jump replaces the 6-byte
// load of ECX from kGameInsertedSleepEcxSource at kGameInsertedSleep, and
// the stub goes on at kGameInsertedSleepContinue. inserted_sleep.S holds the
// same three numbers.
constexpr uint32_t kGameInsertedSleep = 0x6f4099;
constexpr uint32_t kGameInsertedSleepContinue = 0x6f409f;
constexpr uint32_t kGameInsertedSleepEcxSource = 0x1bc0294;
constexpr uint32_t kInsertedSleepMilliseconds = 25;

// Reached only by the jump at kGameInsertedSleep; not callable.
extern "C" void InsertedSleepStub();
