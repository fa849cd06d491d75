#include "crash/crash_handler.h"

#include <psapi.h>

#include <atomic>
#include <cstdint>

#include "crash/autosave.h"
#include "crash/call_stack.h"
#include "crash/crash_dump.h"
#include "crash/cxx_exception.h"
#include "crash/havok_statistics.h"
#include "plugin/log.h"
#include "plugin/settings.h"

namespace {

constexpr DWORD kAccessViolation = 0xC0000005;
constexpr DWORD kCxxException = 0xE06D7363;  // "msc": a throw of the Microsoft C++ runtime
constexpr ULONG_PTR kExecuteFault = 8;       // first access-violation parameter of a DEP fault
constexpr DWORD kModuleListSize = 256;

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
