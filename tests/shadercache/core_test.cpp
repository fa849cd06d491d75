// The fault guard, and cache directories that cannot serve, in process.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "base/guarded_call.h"
#include "shadercache/cache_files.h"
#include "standin/standin.h"

namespace {

struct MachineState {
  uint32_t ebx, esi, edi, x87Control, x87Tags, mxcsr;
  void* handlers;  // head of the thread's exception handler records
  bool operator==(const MachineState& o) const {
    return ebx == o.ebx && esi == o.esi && edi == o.edi && x87Control == o.x87Control &&
           x87Tags == o.x87Tags && mxcsr == o.mxcsr && handlers == o.handlers;
  }
};

// GuardedCall with marker values in the callee-saved registers, and the
// machine state it leaves behind.
uint32_t ProbeGuardedCall(void (*body)(void*), void* context, MachineState& after) {
  uint32_t code, ecx = 0, edx = reinterpret_cast<uint32_t>(context);
  after.ebx = 0xB0B0B0B0, after.esi = 0x51515151, after.edi = 0xD1D1D1D1;
  asm volatile("push %%edx\n\tpush %[body]\n\tcall _GuardedCall\n\tadd $8, %%esp"
               : "=a"(code), "+b"(after.ebx), "+S"(after.esi), "+D"(after.edi), "+c"(ecx), "+d"(edx)
               : [body] "m"(body)
               : "memory", "cc");
  uint32_t environment[7];
  // FNSTENV masks the x87 exceptions; FLDENV puts them back.
  asm volatile("fnstenv %0\n\tfldenv %0\n\tstmxcsr %1\n\tmovl %%fs:0, %2"
               : "=m"(environment), "=m"(after.mxcsr), "=r"(after.handlers));
  after.x87Control = environment[0] & 0xFFFF;
  after.x87Tags = environment[2] & 0xFFFF;
  return code;
}

void Count(void* context) { ++*static_cast<int*>(context); }

// Leaves the x87 control word, its stack and MXCSR changed, then writes to
// address 0.
void Fault(void*) {
  const uint16_t control = 0x0C7F;
  const uint32_t mxcsr = 0x9FC0;
  asm volatile("fldcw %0\n\tldmxcsr %1\n\tfld1" : : "m"(control), "m"(mxcsr));
  *static_cast<volatile int*>(nullptr) = 1;
}

void Divide(void* context) { *static_cast<int*>(context) = 100 / *static_cast<volatile int*>(context); }

// An inner guard ends its own fault; the outer one then ends the body's.
void Nested(void* context) {
  *static_cast<uint32_t*>(context) = GuardedCall(Fault, nullptr);
  Fault(nullptr);
}

TEST(FaultGuard, ReturnsAndRecoversWithTheCallersState) {
  MachineState before, after;
  int count = 0;
  EXPECT_EQ(ProbeGuardedCall(Count, &count, before), 0u);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(before.ebx, 0xB0B0B0B0);
  EXPECT_EQ(before.esi, 0x51515151u);
  EXPECT_EQ(before.edi, 0xD1D1D1D1);
  for (int i = 0; i < 50; ++i) {
    ASSERT_EQ(ProbeGuardedCall(Fault, nullptr, after), static_cast<uint32_t>(EXCEPTION_ACCESS_VIOLATION));
    ASSERT_EQ(after, before);
  }
  uint32_t inner = 0;
  EXPECT_EQ(ProbeGuardedCall(Nested, &inner, after), static_cast<uint32_t>(EXCEPTION_ACCESS_VIOLATION));
  EXPECT_EQ(inner, static_cast<uint32_t>(EXCEPTION_ACCESS_VIOLATION));
  int zero = 0;
  EXPECT_EQ(ProbeGuardedCall(Divide, &zero, after), static_cast<uint32_t>(EXCEPTION_INT_DIVIDE_BY_ZERO));
  EXPECT_EQ(after, before);
}

// The log stays in the working folder while the game folder loses data\skse.
TEST(CacheDirectory, MissingParentIsWarnedAndLeavesTheCacheUnused) {
  const std::string game = standin::GameFolder();
  for (const char* sub : {"\\work", "\\work\\data", "\\work\\data\\skse", "\\work\\data\\skse\\plugins"})
    ASSERT_TRUE(CreateDirectoryA((game + sub).c_str(), nullptr));
  ASSERT_TRUE(SetCurrentDirectoryA((game + "\\work").c_str()));
  ASSERT_TRUE(RemoveDirectoryA((game + "\\data\\skse\\plugins").c_str()));
  ASSERT_TRUE(RemoveDirectoryA((game + "\\data\\skse").c_str()));

  InitShaderCacheDir();
  const std::string folder = game + "\\data\\skse\\shader caches";
  EXPECT_EQ(ShaderCacheDir, std::wstring(folder.begin(), folder.end()));
  std::vector<std::string> log;
  for (const auto& line : standin::ReadLogLines()) log.push_back(standin::WithoutTime(line));
  EXPECT_EQ(log, std::vector<std::string>(
                     {"WARNING: Cannot create directory for cache : 3", "INFO: shader cache dir " + folder}));
  EXPECT_FALSE(ShaderCacheDirUsable);
}

// Run by the next case in a game folder so long that cache file paths would
// pass the path limit; its log goes to that folder.
TEST(CacheDirectory, DISABLED_InLongGameFolder) {
  InitShaderCacheDir();
  EXPECT_FALSE(ShaderCacheDirUsable);
}

TEST(CacheDirectory, PathsPastTheLimitAreWarnedAndLeaveTheCacheUnused) {
  char self[MAX_PATH];
  ASSERT_LT(GetModuleFileNameA(nullptr, self, MAX_PATH), static_cast<DWORD>(MAX_PATH));
  std::string folder = standin::GameFolder() + "\\";
  folder.append(MAX_PATH - 64 - std::strlen("\\data\\skse\\shader caches") - folder.size(), 'g');
  const std::string program = folder + "\\game.exe", plugins = folder + "\\data\\skse\\plugins";
  for (const std::string& sub : {folder, folder + "\\data", folder + "\\data\\skse", plugins})
    ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr)) << sub;
  ASSERT_TRUE(CopyFileA(self, program.c_str(), FALSE));

  std::string command =
      "game.exe --gtest_also_run_disabled_tests --gtest_filter=CacheDirectory.DISABLED_InLongGameFolder";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child = {};
  ASSERT_TRUE(CreateProcessA(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                             folder.c_str(), &startup, &child));
  DWORD exitCode = 1;
  EXPECT_EQ(WaitForSingleObject(child.hProcess, 120000), WAIT_OBJECT_0);
  GetExitCodeProcess(child.hProcess, &exitCode);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  EXPECT_EQ(exitCode, 0u);

  std::ifstream log(plugins + "\\Quelbrand.log");
  std::vector<std::string> lines;
  for (std::string line; std::getline(log, line);) lines.push_back(standin::WithoutTime(line));
  const std::string cacheFolder = folder + "\\data\\skse\\shader caches";
  EXPECT_EQ(lines, std::vector<std::string>(
                       {"WARNING: Shader cache paths would exceed 259 characters: cache not used",
                        "INFO: shader cache dir " + cacheFolder}));
  EXPECT_EQ(GetFileAttributesA(cacheFolder.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
