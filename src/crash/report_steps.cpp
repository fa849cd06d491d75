#include "crash/report_steps.h"

#include <cstdint>

#include "base/log.h"
#include "crash/autosave.h"
#include "crash/call_stack.h"
#include "crash/crash_details.h"
#include "crash/crash_dump.h"
#include "crash/cxx_exception.h"
#include "crash/havok_statistics.h"
#include "crash/module_list.h"

namespace {

constexpr DWORD kAccessViolation = 0xC0000005;
constexpr DWORD kCxxException = 0xE06D7363;  // "msc": a throw of the Microsoft C++ runtime
constexpr ULONG_PTR kExecuteFault = 8;       // first access-violation parameter of a DEP fault

// How long each step may go without progress. Together they stay under 60 s,
// so that handling in which nothing moves (a frozen thread holds the heap)
// ends within a minute of the fault (at most three steps can hang, one on
// each thread that runs steps). The walk and the dump count the processor
// time they spend as progress, the dump also its growing file, so that a
// large or slow one is not cut short.
// Steps that only read memory and write the log, and the Havok step that
// calls into the game.
constexpr DWORD kQuickStepMs = 2500;
constexpr DWORD kGameCallStepMs = 4000;
constexpr DWORD kWalkMs = 12000;
constexpr DWORD kDumpMs = 15000;
// The autosave bounds its own wait (about 5 s).
constexpr DWORD kSaveStepMs = 8000;

PluginLog& Log() { return GetLog(); }

unsigned Hex(uintptr_t value) { return static_cast<unsigned>(value); }

CrashJob& Job(void* job) { return *static_cast<CrashJob*>(job); }

void LogHeading(void*) { LogLine(Log(), LogError, "Fatal error occured"); }

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
  const ModuleTable& modules = CrashModules();
  const LoadedModule* module = ModuleContaining(modules, address);
  // No match: the executable (first in load order), base 0.
  const char* modulePath = module != nullptr    ? module->path
                           : modules.count != 0 ? modules.modules[0].path
                                                : "unknown (the module list could not be read)";

  LogLine(Log(), LogError, "Code : 0x%08x", Hex(record.ExceptionCode));
  LogLine(Log(), LogError, "Flag : 0x%08x", Hex(record.ExceptionFlags));
  LogLine(Log(), LogError, "Module : %s", modulePath);
  LogLine(Log(), LogError, "Address : 0x%08x", Hex(address));
  LogLine(Log(), LogError, "Module Address : 0x%08x", Hex(module != nullptr ? module->base : 0));
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

void LogThread(void* argument) { LogFaultingThread(Job(argument).pointers, Job(argument).threadId); }
void LogCrashRegisters(void* argument) { LogRegisters(Job(argument).pointers->ContextRecord); }
void LogCrashStack(void* argument) { LogStackScan(Job(argument).pointers->ContextRecord); }
void LogModuleList(void*) { LogModules(); }

void WriteDump(void* argument) {
  const CrashJob& job = Job(argument);
  WriteCrashDump(job.pointers, job.threadId, job.fullMemory);
}

void Save(void* argument) {
  if (Job(argument).autoSave) SaveGameBeforeExit();
}

}  // namespace

const ReportStep kReportSteps[] = {
    {"Heading", kQuickStepMs, LogHeading, nullptr, false},
    {"Exception", kQuickStepMs, LogException, nullptr, false},
    // Loading symbols and gathering a dump keep the processor busy for many
    // seconds on a loaded machine before anything else shows.
    {"Call stack", kWalkMs, LogCallStack, nullptr, true},
    {"Havok statistics", kGameCallStepMs, LogHavok, nullptr, false},
    // The sections for a mod author; before the dump, which may not finish.
    {"Thread", kQuickStepMs, LogThread, nullptr, false},
    {"Registers", kQuickStepMs, LogCrashRegisters, nullptr, false},
    {"Stack scan", kQuickStepMs, LogCrashStack, nullptr, false},
    {"Module list", kQuickStepMs, LogModuleList, nullptr, false},
    // A dump that keeps growing is making progress; its size is bounded by
    // the process's memory.
    {"Minidump", kDumpMs, WriteDump, CrashDumpBytes, true},
    {"Autosave", kSaveStepMs, Save, nullptr, false},
};
const size_t kReportStepCount = sizeof kReportSteps / sizeof kReportSteps[0];

LONG CrashVerdict(const CrashJob& job) {
  return job.reportToWindows ? EXCEPTION_CONTINUE_SEARCH : EXCEPTION_EXECUTE_HANDLER;
}
