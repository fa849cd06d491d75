#pragma once

#include <cstdint>

namespace standin {

// The game's top-level exception filter. The stand-in ends the process with
// kGameFilterExitCode, so a test sees when it ran.
constexpr uint32_t kGameTopLevelFilter = 0xCAC8A0;
constexpr uint32_t kGameFilterExitCode = 0x4746;

// The save manager pointer and the save routine (a member function of the
// manager taking the save name, and two 32-bit values).
constexpr uint32_t kGameSaveManager = 0x1B2E3A8;
constexpr uint32_t kGameSaveGame = 0x6814D0;
// Each save call is recorded as one line in this file of the working folder:
// "<manager> <name> <value1> <value2> <thread id>".
constexpr char kSaveRecordPath[] = "save-calls.txt";

enum class SaveBehaviour { ReturnAfter2ms, Block, Fault };

// The slot of each thread's Havok memory block, and the block's allocator
// pointers (Temp, Heap, Debug, Solver).
constexpr uint32_t kGameHavokBlockSlot = 0x1BB6B08;
constexpr uint32_t kHavokAllocatorOffsets[] = {0x28, 0x2C, 0x30, 0x34};

// A Havok allocator of the game: its statistics function (virtual function 8,
// member-function convention, one argument) copies the six numbers into the
// caller's record; a faulty one reads from an unmapped address instead, a
// hanging one never returns.
struct GameAllocator {
  const void* const* vtable;
  int32_t statistics[6];
};
enum class AllocatorBehaviour { Normal, Fault, Hang };
void MakeGameAllocator(GameAllocator& allocator, const int32_t (&statistics)[6],
                       AllocatorBehaviour behaviour);

// Copies the game's filter and save routine to their addresses.
void PlaceGameCrashRoutines(SaveBehaviour behaviour);

}  // namespace standin
