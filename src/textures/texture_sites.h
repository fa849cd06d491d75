#pragma once

#include <cstdint>

#include "patching/patching.h"
#include "textures/texture_addresses.h"

// The D3DX texture creation functions, found by name at installation (null
// when absent); after commit they hold the trampolines through which the
// replacements reach D3DX.
extern PatchSite CreateTextureFromFileInMemorySite;
extern PatchSite CreateTextureFromFileInMemoryExSite;

// Reached only by the jump at game::kInsertedSleepJump, where the game gets a
// 25 ms sleep; not callable.
extern "C" void InsertedSleepStub();
