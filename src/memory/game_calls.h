#pragma once

// Pointer types for calling game routines in the game's member-function
// convention: the object in ECX, the other arguments on the stack, removed by
// the callee. Arguments are passed as raw 32-bit values so that every bit the
// game gave is handed on unchanged.

#include <cstdint>

// GCC applies thiscall to these pointer types as asked but warns that they
// are not member functions.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes"
using GameCall0 = uint32_t(__thiscall*)(void* object);
using GameCall1 = uint32_t(__thiscall*)(void* object, uint32_t a);
using GameCall2 = uint32_t(__thiscall*)(void* object, uint32_t a, uint32_t b);
using GameCall3 = uint32_t(__thiscall*)(void* object, uint32_t a, uint32_t b, uint32_t c);
using GameCall4 = uint32_t(__thiscall*)(void* object, uint32_t a, uint32_t b, uint32_t c, uint32_t d);
#pragma GCC diagnostic pop

template <typename Call>
Call GameRoutine(void* site) {
  return reinterpret_cast<Call>(site);
}

template <typename Call>
Call GameRoutine(uintptr_t address) {
  return reinterpret_cast<Call>(address);
}

// A global of the game's executable at a fixed address.
template <typename T>
T& GameGlobal(uintptr_t address) {
  return *reinterpret_cast<T*>(address);
}

// A field of a game object at a fixed offset.
template <typename T>
T& GameField(const void* object, uintptr_t offset) {
  return *reinterpret_cast<T*>(reinterpret_cast<uintptr_t>(object) + offset);
}
