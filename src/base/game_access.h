#pragma once

// How features reach the game: calls into its routines in its own
// conventions, its globals at fixed addresses (game::k... constants), fields
// of its objects at fixed offsets and the virtual functions of its objects.

#include <cstdint>

// GCC applies the conventions to these pointer types as asked but warns that
// they are not member functions.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes"
// The game's member-function convention: the first argument (the object) in
// ECX, the others on the stack, removed by the callee.
template <typename Result, typename... Arguments>
using GameThisCall = Result(__thiscall*)(Arguments...);
// The fast-call convention: the first two arguments in ECX and EDX, the
// others on the stack, removed by the callee.
template <typename Result, typename... Arguments>
using GameFastCall = Result(__fastcall*)(Arguments...);
#pragma GCC diagnostic pop

// Member functions whose arguments are passed as raw 32-bit values, so that
// every bit the game gave is handed on unchanged.
using GameCall0 = GameThisCall<uint32_t, void*>;
using GameCall1 = GameThisCall<uint32_t, void*, uint32_t>;
using GameCall2 = GameThisCall<uint32_t, void*, uint32_t, uint32_t>;
using GameCall3 = GameThisCall<uint32_t, void*, uint32_t, uint32_t, uint32_t>;
using GameCall4 = GameThisCall<uint32_t, void*, uint32_t, uint32_t, uint32_t, uint32_t>;

// A game routine through a patch site (its trampoline once redirected) or
// at a fixed address.
template <typename Call>
Call GameRoutine(void* site) {
  return reinterpret_cast<Call>(site);
}

template <typename Call>
Call GameRoutine(uint32_t address) {
  return reinterpret_cast<Call>(static_cast<uintptr_t>(address));
}

// A global of the game's executable at a fixed address.
template <typename T>
T& GameGlobal(uint32_t address) {
  return *reinterpret_cast<T*>(static_cast<uintptr_t>(address));
}

// A field of a game object at a fixed offset.
template <typename T>
T& GameField(const void* object, uintptr_t offset) {
  return *reinterpret_cast<T*>(reinterpret_cast<uintptr_t>(object) + offset);
}

// Virtual function `slot` of a game object (its table is the object's first
// field).
template <typename Call>
Call GameVirtual(const void* object, uint32_t slot) {
  return reinterpret_cast<Call>(GameField<void* const*>(object, 0)[slot]);
}
