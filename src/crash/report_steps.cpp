#include "crash/report_steps.h"

#include <cstdint>

#include "base/log.h"
#include "base/settings.h"
#include "crash/autosave.h"
#include "crash/call_stack.h"
#include "crash/crash_dump.h"
#include "crash/cxx_exception.h"
#include "crash/havok_statistics.h"
#include "crash/module_list.h"

namespace {

constexpr DWORD kAccessViolation = 0xC0000005;
constexpr DWORD kCxxException = 0xE06D7363;  // "msc": a throw of the Microsoft C++ runtime
constexpr ULONG_PTR kExecuteFault = 8;       // first access-violation parameter of a DEP fault

// Time limits of the steps. The walk loads symbols and the dump reads the
// whole process, both slow on a loaded machine; a full-memory dump of a large
// game takes minutes even when nothing is wrong.
constexpr DWORD kQuickStepMs = 10000;
constexpr DWORD kWalkMs = 60000;
constexpr DWORD kDumpMs = 300000;
// The autosave bounds its own wait (about 5 s).
constexpr DWORD kSaveStepMs = 15000;

PluginLog& Log() { return GetLog(); }

unsigned Hex(uintptr_t value) { return static_cast<unsigned>(value); }

CrashJob& Job(void* job) { return *static_cast<CrashJob*>(job); }

void ReadSettings(void* argument) {
  CrashJob& job = Job(argument);
  LogLine(Log(), LogError, "Fatal error occured");
  const char* settings = SettingsPath();
  job.fullMemory = ReadSettingBool("Exception", "MiniDumpWithFullMemory", false, settings);
  job.autoSave = ReadSettingBool("Exception", "AutoSaveGame", true, settings);
  job.reportToWindows = ReadSettingBool("Exception", "ReportToWindows", false, settings);
}

void LogAccessViolation(const EXCEPTION_RECORD& record) {
  if (record.NumberParameters < 2) return;
  const ULONG_PTR kind = record.ExceptionInformation[0];
  const char* attempt = kind == 0 ? "read" : kind == kExecuteFault ? "execute" : "write";
  LogLine(Log(), LogError, "AccessViolation, try to %s 0x%08x failed", attempt,
          Hex(record.ExceptionInformation[1]));
}

void LogException(void* argument) {
  const EXCEPTION_RECORD& record = *Job(argument).pointers->ExceptionRecord;
  const uintptr_t address = reinterpret_cast<uintptr_t>(record.ExceptionAddress);
  LoadedModule modules[kModuleListSize];
  const LoadedModule* module = ModuleContaining(modules, ListModules(modules), address);
  const HMODULE handle = module != nullptr ? module->handle : nullptr;
  char modulePath[MAX_PATH] = {};
  GetModuleFileNameA(handle, modulePath, MAX_PATH);

  LogLine(Log(), LogError, "Code : 0x%08x", Hex(record.ExceptionCode));
  LogLine(Log(), LogError, "Flag : 0x%08x", Hex(record.ExceptionFlags));
  LogLine(Log(), LogError, "Module : %s", modulePath);
  LogLine(Log(), LogError, "Address : 0x%08x", Hex(address));
  LogLine(Log(), LogError, "Module Address : 0x%08x", Hex(reinterpret_cast<uintptr_t>(handle)));
  if (record.ExceptionCode == kAccessViolation) {
    LogAccessViolation(record);
  } else if (record.ExceptionCode == kCxxException) {
    LogCxxExceptionType(&record);
  }
}

void LogCallStack(void* argument) {
  const CrashJob& job = Job(argument);
  // The walk changes the context it is given; the minidump needs the
  // faulting state, so the walk gets a copy.
  CONTEXT context = *job.pointers->ContextRecord;
  HANDLE thread = OpenThread(THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE, job.threadId);
  WalkCallStack(&context, thread != nullptr ? thread : GetCurrentThread());
  if (thread != nullptr) CloseHandle(thread);
}

void LogHavok(void* argument) { LogHavokStatistics(Job(argument).havokBlock); }

void WriteDump(void* argument) {
  const CrashJob& job = Job(argument);
  WriteCrashDump(job.pointers, job.threadId, job.fullMemory);
}

void Save(void* argument) {
  if (Job(argument).autoSave) SaveGameBeforeExit();
}

}  // namespace

const ReportStep kReportSteps[] = {
    {"Settings", kQuickStepMs, ReadSettings, nullptr},
    {"Exception", kQuickStepMs, LogException, nullptr},
    {"Call stack", kWalkMs, LogCallStack, nullptr},
    {"Havok statistics", kQuickStepMs, LogHavok, nullptr},
    // A dump that keeps growing is making progress; its size is bounded by
    // the process's memory.
    {"Minidump", kDumpMs, WriteDump, CrashDumpBytes},
    {"Autosave", kSaveStepMs, Save, nullptr},
};
const size_t kReportStepCount = sizeof kReportSteps / sizeof kReportSteps[0];

LONG CrashVerdict(const CrashJob& job) {
  return job.reportToWindows ? EXCEPTION_CONTINUE_SEARCH : EXCEPTION_EXECUTE_HANDLER;
}
