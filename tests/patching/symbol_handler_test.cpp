#include "patching/symbol_handler.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fake_dbghelp.h"
#include "patching/patching.h"

namespace {

// Each case is a process of its own, so the handler is loaded afresh, from
// the stand-in dbghelp that the fixture loads first.
class SymbolHandler : public testing::Test {
 protected:
  void SetUp() override {
    std::string path = FAKE_DBGHELP_PATH;
    if (path[0] == '/') path = "Z:" + path;  // a Unix path seen from Wine
    fake_ = LoadLibraryA(path.c_str());
    ASSERT_NE(fake_, nullptr) << path;
    ASSERT_EQ(GetModuleHandleA("dbghelp.dll"), fake_) << "Wine's own dbghelp is in the way";
    auto stateOf = reinterpret_cast<FakeSymbolHandlerFn>(
        reinterpret_cast<void*>(GetProcAddress(fake_, "FakeSymbolHandlerState")));
    ASSERT_NE(stateOf, nullptr);
    fake = stateOf();
  }

  template <typename Function>
  Function Export(const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(fake_, name)));
  }

  FakeSymbolHandler* fake = nullptr;

 private:
  HMODULE fake_ = nullptr;
};

HMODULE Kernel32() { return GetModuleHandleA("kernel32.dll"); }

TEST_F(SymbolHandler, IsInitialisedOnceWithItsOptions) {
  fake->currentOptions = 0x80000017;  // the low three bits are cleared
  const SymbolHandlerTable* table = LoadSymbolHandler();
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(fake->versionPassed, kSymbolApiVersion);
  EXPECT_EQ(fake->initializeCalls, 1);
  EXPECT_EQ(fake->initializeProcess, GetCurrentProcess());
  EXPECT_TRUE(fake->initializeSearchPathNull);
  EXPECT_EQ(fake->initializeInvade, FALSE);
  EXPECT_EQ(fake->setOptionsCalls, 1);
  EXPECT_EQ(fake->optionsSet, 0x80000010u | kSymbolOptions);

  EXPECT_EQ(table->process, GetCurrentProcess());
  EXPECT_EQ(table->dbghelp, GetModuleHandleA("dbghelp.dll"));
  EXPECT_EQ(table->imagehlpApiVersionEx, Export<ImagehlpApiVersionExFn>("ImagehlpApiVersionEx"));
  EXPECT_EQ(table->symInitialize, Export<SymInitializeFn>("SymInitialize"));
  EXPECT_EQ(table->symSetOptions, Export<SymSetOptionsFn>("SymSetOptions"));
  EXPECT_EQ(table->symGetOptions, Export<SymGetOptionsFn>("SymGetOptions"));
  EXPECT_EQ(table->symLoadModule64, Export<SymLoadModule64Fn>("SymLoadModule64"));
  EXPECT_EQ(table->symGetModuleInfo64, Export<SymGetModuleInfo64Fn>("SymGetModuleInfo64"));
  EXPECT_EQ(table->symFromName, Export<SymFromNameFn>("SymFromName"));

  EXPECT_EQ(LoadSymbolHandler(), table);
  EXPECT_EQ(fake->versionCalls, 1);
  EXPECT_EQ(fake->initializeCalls, 1);
}

TEST_F(SymbolHandler, OlderInterfaceIsRefusedForGood) {
  fake->reportedMajorVersion = kSymbolApiVersion - 1;
  EXPECT_EQ(LoadSymbolHandler(), nullptr);
  EXPECT_EQ(fake->initializeCalls, 0);
  fake->reportedMajorVersion = kSymbolApiVersion;
  EXPECT_EQ(LoadSymbolHandler(), nullptr);
  EXPECT_EQ(PatchFindFunction("kernel32.dll", "QuelbrandNotExported"), nullptr);
  EXPECT_EQ(fake->versionCalls, 1);
  EXPECT_EQ(fake->loadModuleCalls, 0);
}

TEST_F(SymbolHandler, FailedInitialisationIsNotRetried) {
  fake->initializeResult = FALSE;
  EXPECT_EQ(LoadSymbolHandler(), nullptr);
  EXPECT_EQ(fake->setOptionsCalls, 0);
  fake->initializeResult = TRUE;
  EXPECT_EQ(LoadSymbolHandler(), nullptr);
  EXPECT_EQ(fake->initializeCalls, 1);
}

TEST_F(SymbolHandler, ExportedNamesNeverStartIt) {
  EXPECT_EQ(PatchFindFunction("kernel32.dll", "GetProcAddress"),
            reinterpret_cast<void*>(GetProcAddress(Kernel32(), "GetProcAddress")));
  EXPECT_EQ(PatchFindFunction("quelbrand_no_such_library.dll", "GetProcAddress"), nullptr);
  EXPECT_EQ(fake->versionCalls, 0);
  EXPECT_EQ(fake->initializeCalls, 0);
}

TEST_F(SymbolHandler, UnexportedNameIsLookedUpAsModuleBangName) {
  fake->symbolAddress = 0xFFFFFFFF12345678ull;  // only the low 32 bits count
  EXPECT_EQ(PatchFindFunction("kernel32.dll", "QuelbrandHidden"), reinterpret_cast<void*>(0x12345678));

  const auto base = static_cast<DWORD64>(static_cast<int64_t>(reinterpret_cast<intptr_t>(Kernel32())));
  EXPECT_EQ(fake->loadModuleProcess, GetCurrentProcess());
  EXPECT_TRUE(fake->loadModuleFileNull);
  EXPECT_STREQ(fake->loadModuleImageName, "kernel32.dll");
  EXPECT_TRUE(fake->loadModuleNameNull);
  EXPECT_EQ(fake->loadModuleBase, base);
  EXPECT_EQ(fake->loadModuleSize, 0u);
  EXPECT_EQ(fake->moduleInfoBase, base);
  EXPECT_EQ(fake->moduleInfoRecordSize, 1680u);
  EXPECT_STREQ(fake->fromNameName, "kernel32!QuelbrandHidden");
  EXPECT_EQ(fake->fromNameRecordSize, 88u);
  EXPECT_EQ(fake->fromNameMaxNameLength, 512u);
}

TEST_F(SymbolHandler, EachFailingStepEndsTheLookup) {
  // 0 without an error only means the handler knew the module already.
  fake->loadModuleResult = 0;
  fake->loadModuleError = NO_ERROR;
  EXPECT_EQ(PatchFindFunction("kernel32.dll", "QuelbrandHidden"), reinterpret_cast<void*>(0x12345678));

  fake->loadModuleError = ERROR_FILE_NOT_FOUND;
  EXPECT_EQ(PatchFindFunction("kernel32.dll", "QuelbrandHidden"), nullptr);
  EXPECT_EQ(fake->moduleInfoCalls, 1);

  fake->loadModuleResult = 0x10000000;
  fake->moduleInfoResult = FALSE;
  EXPECT_EQ(PatchFindFunction("kernel32.dll", "QuelbrandHidden"), nullptr);
  EXPECT_EQ(fake->moduleInfoCalls, 2);
  EXPECT_EQ(fake->fromNameCalls, 1);

  fake->moduleInfoResult = TRUE;
  fake->fromNameResult = FALSE;
  EXPECT_EQ(PatchFindFunction("kernel32.dll", "QuelbrandHidden"), nullptr);
  EXPECT_EQ(fake->fromNameCalls, 2);
}

TEST_F(SymbolHandler, NamesThatDoNotFitAreNotLookedUp) {
  // "kernel32!" and the name must fit 511 characters and the terminator.
  const std::string longest(511 - 9, 'f');
  EXPECT_EQ(PatchFindFunction("kernel32.dll", longest.c_str()), reinterpret_cast<void*>(0x12345678));
  EXPECT_EQ(fake->fromNameCalls, 1);
  EXPECT_EQ(std::string(fake->fromNameName), "kernel32!" + longest);

  EXPECT_EQ(PatchFindFunction("kernel32.dll", (longest + "f").c_str()), nullptr);
  EXPECT_EQ(PatchFindFunction("kernel32.dll", std::string(5000, 'g').c_str()), nullptr);
  EXPECT_EQ(fake->fromNameCalls, 1);

  // A module name filling its whole field has no terminator of its own.
  std::memset(fake->moduleName, 'm', sizeof fake->moduleName);
  EXPECT_EQ(PatchFindFunction("kernel32.dll", "QuelbrandHidden"), reinterpret_cast<void*>(0x12345678));
  EXPECT_EQ(std::string(fake->fromNameName), std::string(32, 'm') + "!QuelbrandHidden");
}

}  // namespace
