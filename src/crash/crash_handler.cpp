#include "crash/crash_handler.h"

#include <psapi.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>

#include "crash/autosave.h"
#include "crash/call_stack.h"
#include "crash/crash_dump.h"
#include "crash/guarded_call.h"
#include "plugin/log.h"
#include "plugin/settings.h"

namespace {

constexpr DWORD kAccessViolation = 0xC0000005;
constexpr DWORD kCxxException = 0xE06D7363;  // "msc": a throw of the Microsoft C++ runtime
constexpr ULONG_PTR kExecuteFault = 8;       // first access-violation parameter of a DEP fault
constexpr DWORD kModuleListSize = 256;

// The game keeps the slot of each thread's Havok memory block here; the block
// holds the thread's allocators (Temp, Heap, Debug, Solver in that order).
constexpr uintptr_t kGameHavokBlockSlot = 0x1BB6B08;
constexpr size_t kHavokAllocatorOffsets[] = {0x28, 0x2C, 0x30, 0x34};
const char* const kHavokAllocatorNames[] = {"Temp", "Heap", "Debug", "Solver"};
// Virtual function 8 of an allocator fills its statistics record.
constexpr size_t kStatisticsSlot = 8;

struct HavokStatistics {
  int32_t allocated;
  int32_t inUse;
  int32_t peakInUse;
  int32_t available;
  int32_t totalAvailable;
  int32_t largestBlock;
};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes"
using StatisticsFunction = void(__thiscall*)(void* allocator, HavokStatistics* statistics);
#pragma GCC diagnostic pop

// The crashing thread that owns the handler, 0 when none does.
std::atomic<DWORD> crashThread{0};

PluginLog& Log() { return GetLog(); }

unsigned Hex(uintptr_t value) { return static_cast<unsigned>(value); }

// The loaded module whose image holds `address` (the last match of the
// module list), or null.
HMODULE ModuleContaining(uintptr_t address) {
  HMODULE modules[kModuleListSize] = {};
  DWORD bytes = 0;
  HANDLE process = GetCurrentProcess();
  if (!K32EnumProcessModules(process, modules, sizeof modules, &bytes)) bytes = 0;
  DWORD count = bytes / sizeof(HMODULE);
  if (count > kModuleListSize) count = kModuleListSize;
  HMODULE found = nullptr;
  for (DWORD i = 0; i < count; ++i) {
    MODULEINFO info = {};
    if (!K32GetModuleInformation(process, modules[i], &info, sizeof info)) continue;
    uintptr_t base = reinterpret_cast<uintptr_t>(info.lpBaseOfDll);
    if (address >= base && address - base < info.SizeOfImage) found = modules[i];
  }
  return found;
}

void LogAccessViolation(const EXCEPTION_RECORD& record) {
  if (record.NumberParameters < 2) return;
  const ULONG_PTR kind = record.ExceptionInformation[0];
  const char* attempt = kind == 0 ? "read" : kind == kExecuteFault ? "execute" : "write";
  LogLine(Log(), LogError, "AccessViolation, try to %s 0x%08x failed", attempt,
          Hex(record.ExceptionInformation[1]));
}

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

struct CxxTypeQuery {
  const ThrowInfo* throwInfo;
  char name[512];
};

void ReadCxxTypeName(void* argument) {
  auto* query = static_cast<CxxTypeQuery*>(argument);
  const TypeDescriptor* type = query->throwInfo->catchableTypes->types[0]->type;
  // The decorated name starts with '.', which the undecorator does not take.
  if (__unDName(query->name, type->name + 1, static_cast<int>(sizeof query->name), std::malloc, std::free,
                kUndecorateTypeOnly) == nullptr)
    query->name[0] = '\0';
}

struct AllocatorQuery {
  const uint8_t* field;  // the allocator pointer's place in the block
  void* allocator;
  HavokStatistics statistics;
};

void QueryAllocator(void* argument) {
  auto* query = static_cast<AllocatorQuery*>(argument);
  query->allocator = *reinterpret_cast<void* const*>(query->field);
  if (query->allocator == nullptr) return;
  auto table = *static_cast<StatisticsFunction* const*>(query->allocator);
  table[kStatisticsSlot](query->allocator, &query->statistics);
}

void ReadBlockSlot(void* argument) {
  *static_cast<DWORD*>(argument) = *reinterpret_cast<const DWORD*>(kGameHavokBlockSlot);
}

// The game's code and the block are of unknown state after a crash: every
// read and call runs guarded.
void LogHavokStatistics() {
  DWORD slot = TLS_OUT_OF_INDEXES;
  if (!GuardedCall(ReadBlockSlot, &slot)) return;
  auto* block = static_cast<const uint8_t*>(TlsGetValue(slot));
  if (block == nullptr) return;
  LogLine(Log(), LogError, "Thread local Havok memory heap:");
  for (size_t i = 0; i < 4; ++i) {
    // Each allocator starts from "unknown": a missing allocator, or one that
    // leaves fields unfilled, never shows another allocator's numbers.
    AllocatorQuery query = {block + kHavokAllocatorOffsets[i], nullptr, {-1, -1, -1, -1, -1, -1}};
    GuardedCall(QueryAllocator, &query);
    const char* name = kHavokAllocatorNames[i];
    const HavokStatistics& s = query.statistics;
    LogLine(Log(), LogError, "\t%s memory allocator:0x%08x", name,
            Hex(reinterpret_cast<uintptr_t>(query.allocator)));
    LogLine(Log(), LogError, "\t%s memory allocated:%d", name, s.allocated);
    LogLine(Log(), LogError, "\t%s memory in used:%d", name, s.inUse);
    LogLine(Log(), LogError, "\t%s memory available:%d", name, s.available);
    LogLine(Log(), LogError, "\t%s memory total available:%d", name, s.totalAvailable);
    LogLine(Log(), LogError, "\t%s memory largest block:%d", name, s.largestBlock);
  }
}

LONG ReportAndRecover(EXCEPTION_POINTERS* pointers) {
  LogLine(Log(), LogError, "Fatal error occured");
  const char* settings = SettingsPath();
  const bool fullMemory = ReadSettingBool("Exception", "MiniDumpWithFullMemory", false, settings);
  const bool autoSave = ReadSettingBool("Exception", "AutoSaveGame", true, settings);
  const bool reportToWindows = ReadSettingBool("Exception", "ReportToWindows", false, settings);

  const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
  const uintptr_t address = reinterpret_cast<uintptr_t>(record.ExceptionAddress);
  HMODULE module = ModuleContaining(address);
  char modulePath[MAX_PATH] = {};
  GetModuleFileNameA(module, modulePath, MAX_PATH);

  LogLine(Log(), LogError, "Code : 0x%08x", Hex(record.ExceptionCode));
  LogLine(Log(), LogError, "Flag : 0x%08x", Hex(record.ExceptionFlags));
  LogLine(Log(), LogError, "Module : %s", modulePath);
  LogLine(Log(), LogError, "Address : 0x%08x", Hex(address));
  LogLine(Log(), LogError, "Module Address : 0x%08x", Hex(reinterpret_cast<uintptr_t>(module)));
  if (record.ExceptionCode == kAccessViolation) {
    LogAccessViolation(record);
  } else if (record.ExceptionCode == kCxxException) {
    LogCxxExceptionType(&record);
  }

  // The walk changes the context it is given; the minidump needs the
  // faulting state, so the walk gets a copy.
  CONTEXT walkContext = *pointers->ContextRecord;
  WalkCallStack(&walkContext);
  LogHavokStatistics();

  WriteCrashDump(pointers, fullMemory);
  if (autoSave) SaveGameBeforeExit();
  return reportToWindows ? EXCEPTION_CONTINUE_SEARCH : EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

void LogCxxExceptionType(const EXCEPTION_RECORD* record) {
  if (record->NumberParameters < 3) return;
  CxxTypeQuery query = {};
  query.throwInfo = reinterpret_cast<const ThrowInfo*>(record->ExceptionInformation[2]);
  if (GuardedCall(ReadCxxTypeName, &query) && query.name[0] != '\0')
    LogLine(Log(), LogError, "C++ Exception %s", query.name);
}

LONG HandleCrash(EXCEPTION_POINTERS* pointers) {
  const DWORD self = GetCurrentThreadId();
  if (crashThread.load() == self) return EXCEPTION_EXECUTE_HANDLER;
  DWORD expected = 0;
  while (!crashThread.compare_exchange_weak(expected, self)) {
    expected = 0;
    Sleep(1);
  }
  const LONG verdict = ReportAndRecover(pointers);
  crashThread.store(0);
  return verdict;
}
