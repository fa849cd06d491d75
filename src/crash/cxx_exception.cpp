#include "crash/cxx_exception.h"

#include <cstdint>

#include "base/guarded_call.h"
#include "base/log.h"

namespace {

// The thrower's data, as the Microsoft C++ runtime lays it out for x86:
// throw information -> catchable-type array -> first catchable type -> type
// descriptor, whose decorated name ".?AV..." follows two pointers.
struct ThrowInfo {
  uint32_t attributes;
  uint32_t unwind;
  uint32_t forwardCompat;
  const struct CatchableTypeArray* catchableTypes;
};
struct CatchableTypeArray {
  int32_t count;
  const struct CatchableType* types[1];
};
struct CatchableType {
  uint32_t properties;
  const struct TypeDescriptor* type;
};
struct TypeDescriptor {
  const void* vtable;
  void* spare;
  char name[1];
};

// The runtime's own name undecorator, as type_info::name uses it.
extern "C" char* __cdecl __unDName(char* out, const char* decorated, int outSize, void* (*allocate)(size_t),
                                   void (*release)(void*), unsigned short flags);
constexpr unsigned short kUndecorateTypeOnly = 0x2800;  // 32-bit decode, type name only

// The undecorator's memory, from a block of its own: the heap may be held by
// another thread when a crash is reported.
alignas(8) char nameArena[4096];
size_t arenaUsed;

void* ArenaAllocate(size_t size) {
  size = (size + 7) & ~size_t{7};
  if (size > sizeof nameArena - arenaUsed) return nullptr;
  void* block = nameArena + arenaUsed;
  arenaUsed += size;
  return block;
}

void ArenaRelease(void*) {}

struct CxxTypeQuery {
  const ThrowInfo* throwInfo;
  char name[512];
};

void ReadCxxTypeName(void* argument) {
  auto* query = static_cast<CxxTypeQuery*>(argument);
  const TypeDescriptor* type = query->throwInfo->catchableTypes->types[0]->type;
  // The decorated name starts with '.', which the undecorator does not take.
  arenaUsed = 0;
  if (__unDName(query->name, type->name + 1, static_cast<int>(sizeof query->name), ArenaAllocate,
                ArenaRelease, kUndecorateTypeOnly) == nullptr)
    query->name[0] = '\0';
}

}  // namespace

void LogCxxExceptionType(const EXCEPTION_RECORD* record) {
  if (record->NumberParameters < 3) return;
  CxxTypeQuery query = {};
  query.throwInfo = reinterpret_cast<const ThrowInfo*>(record->ExceptionInformation[2]);
  if (GuardedCall(ReadCxxTypeName, &query) == 0 && query.name[0] != '\0')
    LogLine(GetLog(), LogError, "C++ Exception %s", query.name);
}
