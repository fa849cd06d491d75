#pragma once

// Fixed addresses of the game's executable (runtime 1.9.32.0), and the few
// numbers of its code that assembly needs too. Each feature lists its own in
// a header of its own that both its C++ and its .S files include: in C++
// every entry is a uint32_t constant in namespace `game`, in assembly an
// absolute symbol of the same name.
//
// SHARED_CONSTANT(space, name, value) does the same for a namespace of the
// caller's choice (the stand-in game's own places use it).

#ifdef __ASSEMBLER__
#define SHARED_CONSTANT(space, name, value) .set name, value
#else
#include <cstdint>
#define SHARED_CONSTANT(space, name, value) \
  namespace space {                         \
  constexpr uint32_t name = value;          \
  }
#endif

#define GAME_ADDRESS(name, value) SHARED_CONSTANT(game, name, value)
// An offset into a game object or a value of the game's code.
#define GAME_CONSTANT(name, value) SHARED_CONSTANT(game, name, value)
