#pragma once

// What a throw of the Microsoft C++ runtime hands to RaiseException (code
// 0xE06D7363, three parameters: magic, thrown object, throw information), in
// its x86 layout.

#include <windows.h>

#include <cstdint>

struct TypeDescriptor {
  const void* vtable;
  void* spare;
  char name[40];  // decorated, ".?AV<class>@@"
};
struct CatchableType {
  uint32_t properties;
  const TypeDescriptor* type;
  int32_t displacement[3];
  int32_t size;
  const void* copy;
};
struct CatchableTypeArray {
  int32_t count;
  const CatchableType* types[2];  // the thrown type first, then its bases
};
struct ThrowInfo {
  uint32_t attributes;
  const void* unwind;
  const void* forwardCompat;
  const CatchableTypeArray* catchable;
};

constexpr DWORD kCxxExceptionCode = 0xE06D7363;
constexpr ULONG_PTR kCxxMagic = 0x19930520;
