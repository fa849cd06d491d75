#include <gtest/gtest.h>
#include <windows.h>
// psapi.h relies on the types of windows.h.
#include <psapi.h>

#include <algorithm>
#include <vector>

#include "fake_image.h"
#include "patching/patching.h"
#include "patching/payload.h"
#include "patching/symbol_handler.h"

namespace {

bool DbghelpLoaded() { return GetModuleHandleA("dbghelp.dll") != nullptr; }

// SymCleanup succeeds only for a process whose symbol handler was
// initialised. Loads dbghelp to ask, so it comes last in a test.
bool SymbolHandlerInitialised() {
  HMODULE dbghelp = LoadLibraryA("dbghelp.dll");
  auto cleanup =
      reinterpret_cast<BOOL(WINAPI*)(HANDLE)>(reinterpret_cast<void*>(GetProcAddress(dbghelp, "SymCleanup")));
  return cleanup != nullptr && cleanup(GetCurrentProcess()) != FALSE;
}

TEST(FindFunction, ExportedNamesComeFromTheExportTableAlone) {
  // A program that imports dbghelp itself can only show that the handler
  // stayed uninitialised.
  const bool dbghelpAtStart = DbghelpLoaded();
  struct Case {
    const char* library;
    const char* function;
  };
  const Case cases[] = {
      {"kernel32.dll", "GetProcAddress"},
      {"kernel32.dll", "HeapAlloc"},  // forwarded to ntdll
      {"ntdll.dll", "NtQueryVirtualMemory"},
      {"d3dx9_43.dll", "D3DXCreateEffect"},  // not loaded before
      {"D3DX9_42.dll", "D3DXCreateTextureFromFileInMemoryEx"},
  };
  for (const Case& c : cases) {
    void* found = PatchFindFunction(c.library, c.function);
    HMODULE module = GetModuleHandleA(c.library);  // stays loaded
    ASSERT_NE(module, nullptr) << c.library;
    EXPECT_NE(found, nullptr) << c.function;
    EXPECT_EQ(found, reinterpret_cast<void*>(GetProcAddress(module, c.function))) << c.function;
  }
  if (!dbghelpAtStart) {
    EXPECT_FALSE(DbghelpLoaded());
  }
  EXPECT_FALSE(SymbolHandlerInitialised());
}

TEST(FindFunction, UnloadableLibraryGivesNullWithoutTheSymbolHandler) {
  const bool dbghelpAtStart = DbghelpLoaded();
  EXPECT_EQ(PatchFindFunction("quelbrand_no_such_library.dll", "D3DXCreateEffect"), nullptr);
  EXPECT_EQ(PatchFindFunction("C:\\no\\such\\folder\\d3dx9_43.dll", "D3DXCreateEffect"), nullptr);
  EXPECT_EQ(PatchFindFunction(nullptr, "GetProcAddress"), nullptr);
  // A null name (ordinal 0) has no symbol to look up either.
  EXPECT_EQ(PatchFindFunction("kernel32.dll", nullptr), nullptr);
  if (!dbghelpAtStart) {
    EXPECT_FALSE(DbghelpLoaded());
  }
  EXPECT_FALSE(SymbolHandlerInitialised());
}

TEST(FindFunction, UnexportedNameFallsBackToTheSymbolHandler) {
  const bool dbghelpAtStart = DbghelpLoaded();
  EXPECT_EQ(PatchFindFunction("kernel32.dll", "QuelbrandNotExported"), nullptr);
  const SymbolHandlerTable* symbols = LoadSymbolHandler();
  const bool dbghelpKept = DbghelpLoaded();

  // The handler needs interface version 11; Wine's dbghelp reports 4 and is
  // refused (and released), so the lookup ends in null there.
  HMODULE dbghelp = LoadLibraryA("dbghelp.dll");
  ASSERT_NE(dbghelp, nullptr);
  auto version = reinterpret_cast<ImagehlpApiVersionExFn>(
      reinterpret_cast<void*>(GetProcAddress(dbghelp, "ImagehlpApiVersionEx")));
  ASSERT_NE(version, nullptr);
  API_VERSION reported = {};
  reported.MajorVersion = kSymbolApiVersion;
  version(&reported);
  if (reported.MajorVersion < kSymbolApiVersion) {
    EXPECT_EQ(symbols, nullptr);
    if (!dbghelpAtStart) {
      EXPECT_FALSE(dbghelpKept);
    }
    EXPECT_FALSE(SymbolHandlerInitialised());
  } else {
    ASSERT_NE(symbols, nullptr);
    EXPECT_EQ(symbols->dbghelp, dbghelp);
    EXPECT_TRUE(SymbolHandlerInitialised());
  }
  EXPECT_EQ(LoadSymbolHandler(), symbols);
}

std::vector<HMODULE> WalkModules() {
  std::vector<HMODULE> modules;
  for (HMODULE module = PatchNextModule(nullptr); module != nullptr; module = PatchNextModule(module)) {
    modules.push_back(module);
    if (modules.size() > 10000) break;  // a walk that never ends
  }
  return modules;
}

bool Contains(const std::vector<HMODULE>& modules, const void* base) {
  return std::find(modules.begin(), modules.end(), base) != modules.end();
}

TEST(ModuleWalk, VisitsEveryLoadedModuleInAscendingOrder) {
  LoadLibraryA("d3dx9_43.dll");
  const std::vector<HMODULE> walked = WalkModules();
  ASSERT_LT(walked.size(), 10000u);
  EXPECT_EQ(std::adjacent_find(walked.begin(), walked.end(), std::greater_equal<HMODULE>()), walked.end());

  HMODULE loaded[1024];
  DWORD bytes = 0;
  ASSERT_TRUE(K32EnumProcessModules(GetCurrentProcess(), loaded, sizeof loaded, &bytes));
  const size_t count = bytes / sizeof(HMODULE);
  ASSERT_GE(count, 4u);
  for (size_t i = 0; i < count && i < 1024; ++i) {
    char name[MAX_PATH] = {};
    GetModuleFileNameA(loaded[i], name, MAX_PATH);
    EXPECT_TRUE(Contains(walked, loaded[i])) << name;
  }
  for (const char* name : {static_cast<const char*>(nullptr), "kernel32.dll", "ntdll.dll", "d3dx9_43.dll"})
    EXPECT_TRUE(Contains(walked, GetModuleHandleA(name))) << (name ? name : "the executable");
}

TEST(ModuleWalk, FindsImagesAnywhereAndSkipsUnsoundOnes) {
  FakeImage sound;
  FakeImage farHeader;  // its signature would straddle the inaccessible page
  farHeader.dos().e_lfanew = FakeImage::kMappedSize - 2;
  FakeImage shortHeader;  // new header inside the DOS header
  shortHeader.dos().e_lfanew = 32;
  std::memcpy(shortHeader.base() + 32, "PE\0\0", 4);
  FakeImage noSignature;
  noSignature.nt().Signature = 0;
  FakeImage inaccessible;
  inaccessible.Protect(0, FakeImage::kMappedSize, PAGE_NOACCESS);
  FakeImage guarded;
  guarded.Protect(0, FakeImage::kPage, PAGE_READWRITE | PAGE_GUARD);

  const std::vector<HMODULE> walked = WalkModules();
  EXPECT_TRUE(Contains(walked, sound.base()));
  EXPECT_FALSE(Contains(walked, farHeader.base()));
  EXPECT_FALSE(Contains(walked, shortHeader.base()));
  EXPECT_FALSE(Contains(walked, noSignature.base()));
  EXPECT_FALSE(Contains(walked, inaccessible.base()));
  EXPECT_FALSE(Contains(walked, guarded.base()));

  MEMORY_BASIC_INFORMATION info;
  ASSERT_NE(VirtualQuery(guarded.base(), &info, sizeof info), 0u);
  EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_READWRITE | PAGE_GUARD)) << "the guard page was touched";

  // The search starts 64 KB above the previous base.
  EXPECT_EQ(PatchNextModule(reinterpret_cast<HMODULE>(sound.base() - 0x10000)), sound.module());
  EXPECT_NE(PatchNextModule(reinterpret_cast<HMODULE>(sound.base() - 0xF000)), sound.module());
}

TEST(ModuleWalk, EndsAtTheTopOfTheAddressSpace) {
  EXPECT_EQ(PatchNextModule(reinterpret_cast<HMODULE>(0xFFFF8000u)), nullptr);
  EXPECT_EQ(PatchNextModule(reinterpret_cast<HMODULE>(0xFFFFFFFFu)), nullptr);
}

}  // namespace
