#pragma once

// The calling thread's Havok memory block, or null when it has none. Read on
// the crashing thread itself: the block is thread-local.
const void* CurrentHavokBlock();

// Logs the Havok memory statistics of a crashed thread's block: for each of
// its four allocators (Temp, Heap, Debug, Solver) its address and numbers.
// Nothing for a null block. Every read of game data and every call into the
// game runs guarded; numbers that could not be had read -1.
void LogHavokStatistics(const void* havokBlock);
