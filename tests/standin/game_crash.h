#pragma once

#include <cstdint>

#include "crash/crash_addresses.h"

namespace standin {

// The game's top-level exception filter (game::kTopLevelFilter). The
// stand-in ends the process with kGameFilterExitCode, so a test sees when it
// ran.
constexpr uint32_t kGameFilterExitCode = 0x4746;

// The save routine at game::kSaveGame, called on the manager that
// game::kSaveManager points to. Each save call is recorded as one line in this file of the working folder:
// "<manager> <name> <value1> <value2> <thread id>".
constexpr char kSaveRecordPath[] = "save-calls.txt";

enum class SaveBehaviour { ReturnAfter2ms, Block, Fault };

// The block in each thread's Havok slot (game::kHavokBlockSlot) holds the
// allocator pointers (Temp, Heap, Debug, Solver) at these offsets.
constexpr uint32_t kHavokAllocatorOffsets[] = {0x28, 0x2C, 0x30, 0x34};

// A Havok allocator of the game: its statistics function (virtual function 8,
// member-function convention, one argument) copies the six numbers into the
// caller's record; a faulty one reads from an unmapped address instead, a
// hanging one never returns (HangLocked: holding the process heap's lock), a
// breaking one stops at a breakpoint.
struct GameAllocator {
  const void* const* vtable;
  int32_t statistics[6];
};
enum class AllocatorBehaviour { Normal, Fault, Hang, HangLocked, Break };
void MakeGameAllocator(GameAllocator& allocator, const int32_t (&statistics)[6],
                       AllocatorBehaviour behaviour);

// Copies the game's filter and save routine to their addresses.
void PlaceGameCrashRoutines(SaveBehaviour behaviour);

}  // namespace standin

// Writes address 0x10 from a routine without a frame pointer, after handing
// its return address to NoFrameReturnRecorder, which the program sets.
extern "C" void FaultWithoutFramePointer();
extern "C" void (*NoFrameReturnRecorder)(uintptr_t returnAddress);
