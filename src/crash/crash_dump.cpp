#include "crash/crash_dump.h"

// dbghelp.h relies on the types of windows.h.
#include <dbghelp.h>

#include <atomic>

#include "base/data_path.h"
#include "base/log.h"

namespace {

constexpr char kDumpPath[] = "data/skse/plugins/Quelbrand.dmp";

// The dump being written, for CrashDumpBytes.
std::atomic<HANDLE> dumpFile{INVALID_HANDLE_VALUE};

}  // namespace

uint64_t CrashDumpBytes() {
  LARGE_INTEGER size = {};
  const HANDLE file = dumpFile.load();
  if (file == INVALID_HANDLE_VALUE || !GetFileSizeEx(file, &size)) return 0;
  return static_cast<uint64_t>(size.QuadPart);
}

void WriteCrashDump(EXCEPTION_POINTERS* pointers, DWORD threadId, bool fullMemory) {
  HANDLE file = CreateFileA(ChooseDataFile(kDumpPath, DumpFile), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  bool written = false;
  DWORD error = 0;
  if (file == INVALID_HANDLE_VALUE) {
    error = GetLastError();
  } else {
    dumpFile.store(file);
    MINIDUMP_EXCEPTION_INFORMATION exception = {threadId, pointers, FALSE};
    written =
        MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file,
                          fullMemory ? MiniDumpWithFullMemory : MiniDumpNormal, &exception, nullptr, nullptr);
    if (!written) error = GetLastError();
    dumpFile.store(INVALID_HANDLE_VALUE);
    CloseHandle(file);
  }
  if (written) {
    LogLine(GetLog(), LogError, "Minidump saved in Quelbrand.dmp");
  } else {
    LogLine(GetLog(), LogError, "Minidump not written to Quelbrand.dmp, error 0x%08x",
            static_cast<unsigned>(error));
  }
}
