#include "crash/crash_dump.h"

// dbghelp.h relies on the types of windows.h.
#include <dbghelp.h>

#include "plugin/log.h"

namespace {

constexpr char kDumpPath[] = "data/skse/plugins/Quelbrand.dmp";

}  // namespace

void WriteCrashDump(EXCEPTION_POINTERS* pointers, bool fullMemory) {
  HANDLE file =
      CreateFileA(kDumpPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    MINIDUMP_EXCEPTION_INFORMATION exception = {GetCurrentThreadId(), pointers, FALSE};
    MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file,
                      fullMemory ? MiniDumpWithFullMemory : MiniDumpNormal, &exception, nullptr, nullptr);
    CloseHandle(file);
  }
  LogLine(GetLog(), LogError, "Minidump saved in Quelbrand.dmp");
}
