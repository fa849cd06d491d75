#pragma once

#include <cstdint>

// Copies `count` bytes between non-overlapping ranges with 16-byte vector
// moves, 128 bytes per step; aligned moves when both addresses reach a
// 16-byte boundary together.
void CopyBytesSimd(void* destination, const void* source, uint32_t count);
