#pragma once

#include <cstdint>

// Overwrites the five bytes at a fixed game address with a relative jump
// (E9 rel32) to `stub`. Takes effect at once and is never undone.
void WriteRelJump(uint32_t address, const void* stub);
