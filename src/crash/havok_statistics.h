#pragma once

// Logs the Havok memory statistics of the crashing thread: for each of the
// thread's four allocators (Temp, Heap, Debug, Solver) its address and
// numbers. Nothing when the thread has no Havok memory block. Every read of
// game data and every call into the game runs guarded; numbers that could not
// be had read -1.
void LogHavokStatistics();
