// The stand-in game crashing for real. It loads Quelbrand.dll as the host
// does, installs its own top-level filter as the game does, writes what the
// tests need to know into "crash-facts.txt" ("key value" lines), then faults
// as its scenario (the first argument) says.

#include <windows.h>
// dbghelp.h relies on the types of windows.h.
#include <dbghelp.h>
#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "base/game_access.h"
#include "crash_scenarios.h"
#include "msvc_throw.h"
#include "standin/game_crash.h"
#include "standin/game_math.h"
#include "standin/standin.h"

namespace {

FILE* facts;
std::string scenario;
LPTOP_LEVEL_EXCEPTION_FILTER crashFilter;

void Fact(const char* key, uintptr_t value) {
  std::fprintf(facts, "%s %08x\n", key, static_cast<unsigned>(value));
}

// A thrown object of class SaveFileCorrupted, catchable also as std::exception.
const TypeDescriptor kThrownType = {nullptr, nullptr, ".?AVSaveFileCorrupted@@"};
const TypeDescriptor kBaseType = {nullptr, nullptr, ".?AVexception@std@@"};
const CatchableType kThrownCatchable = {0, &kThrownType, {0, -1, 0}, 8, nullptr};
const CatchableType kBaseCatchable = {0, &kBaseType, {0, -1, 0}, 8, nullptr};
const CatchableTypeArray kCatchable = {2, {&kThrownCatchable, &kBaseCatchable}};
const ThrowInfo kThrowInfo = {0, nullptr, nullptr, &kCatchable};

void ThrowLikeTheGame() {
  static int thrown[2];
  const ULONG_PTR arguments[3] = {kCxxMagic, reinterpret_cast<ULONG_PTR>(thrown),
                                  reinterpret_cast<ULONG_PTR>(&kThrowInfo)};
  RaiseException(kCxxExceptionCode, EXCEPTION_NONCONTINUABLE, 3, arguments);
}

// Faults inside a system DLL, or in code that belongs to no module.
void FaultElsewhere() {
  if (scenario == kScenarioDllFault) {
    const HMODULE dll = GetModuleHandleA("msvcrt.dll");
    auto length = reinterpret_cast<size_t(__cdecl*)(const char*)>(
        reinterpret_cast<void*>(GetProcAddress(dll, "strlen")));
    Fact("dll", reinterpret_cast<uintptr_t>(dll));
    std::fclose(facts);
    length(reinterpret_cast<const char*>(0x10));
  }
  // mov dword ptr [0x10], 1; ret
  const uint8_t code[] = {0xC7, 0x05, 0x10, 0, 0, 0, 1, 0, 0, 0, 0xC3};
  void* copy = VirtualAlloc(nullptr, sizeof code, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
  std::memcpy(copy, code, sizeof code);
  Fact("code", reinterpret_cast<uintptr_t>(copy));
  std::fclose(facts);
  reinterpret_cast<void (*)()>(copy)();
}

__attribute__((noinline)) int Overflow(volatile int depth) {
  volatile char frame[4096];
  frame[0] = static_cast<char>(depth);
  if (depth < 0) return 0;
  return Overflow(depth + 1) + frame[0];
}

DWORD WINAPI OverflowThread(LPVOID) {
  Fact("thread", GetCurrentThreadId());
  std::fclose(facts);
  return static_cast<DWORD>(Overflow(0));
}

// The second crash of "two-threads": running before the first thread takes
// the heap lock, faulting well after the first crash has started.
// Its mark is written without the heap, which the first thread holds.
HANDLE secondFaultMark;

DWORD WINAPI LaterFault(LPVOID started) {
  SetEvent(started);
  Sleep(2000);
  DWORD written = 0;
  WriteFile(secondFaultMark, "1", 1, &written, nullptr);
  volatile int* volatile target = reinterpret_cast<int*>(0x20);
  *target = 1;
  return 0;
}

// The stand-in's version of an object of the game: a vtable whose word before
// it points to a complete-object locator naming the class.
struct ObjectWithTypeInfo {
  const TypeDescriptor type = {nullptr, nullptr, ".?AVTESObjectREFR@@"};
  const uint32_t locator[5] = {0, 0, 0, reinterpret_cast<uint32_t>(&type), 0};
  const void* vtable[3] = {locator, reinterpret_cast<void*>(ThrowLikeTheGame), nullptr};
  const void* const* object = vtable + 1;
};

void FaultInRegisters() {
  static ObjectWithTypeInfo object;
  const void* code = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("msvcrt.dll"), "strlen"));
  Fact("object", reinterpret_cast<uintptr_t>(&object.object));
  Fact("code", reinterpret_cast<uintptr_t>(code));
  std::fclose(facts);
  asm volatile("movl %0, %%esi\n\tmovl %1, %%edi\n\tmovl $1, 0x10"
               :
               : "r"(&object.object), "r"(code)
               : "esi", "edi", "memory");
}

// A second crash about 500 ms after the first, holding the heap lock.
DWORD WINAPI HeapHoldingCrasher(LPVOID) {
  Sleep(500);
  HeapLock(GetProcessHeap());
  volatile int* volatile target = reinterpret_cast<int*>(0x20);
  *target = 1;
  return 0;
}

// Logs (a refused query) again and again while the main thread crashes.
DWORD WINAPI LoggingThread(LPVOID host) {
  for (;;) static_cast<standin::Host*>(host)->Query(standin::kRuntime1_9_32, true);
}

void RecordNoFrameReturn(uintptr_t returnAddress) {
  Fact("return", returnAddress);
  std::fclose(facts);
}

__attribute__((noinline)) void FaultInner() {
  Fact("frame", reinterpret_cast<uintptr_t>(__builtin_return_address(0)));
  if (scenario == kScenarioDllFault || scenario == kScenarioNoModule) FaultElsewhere();
  if (scenario == kScenarioRegisters) FaultInRegisters();
  if (scenario == kScenarioNoFramePointer) {
    NoFrameReturnRecorder = RecordNoFrameReturn;
    FaultWithoutFramePointer();
    return;
  }
  if (scenario == kScenarioReplacement) {
    std::fclose(facts);
    float result[16];
    reinterpret_cast<::GameThisCall<void, const float*, float*, const float*>>(game::kMatrixMultiply)(
        reinterpret_cast<const float*>(0x10), result, result);
  }
  if (scenario == kScenarioCxxHavok) {
    std::fclose(facts);
    ThrowLikeTheGame();
    return;
  }
  if (scenario == kScenarioReadSymbols) {
    volatile int* volatile nowhere = nullptr;
    std::fprintf(facts, "line %d\n", __LINE__ + 2);
    std::fclose(facts);
    std::printf("%d", *nowhere);
  }
  std::fclose(facts);
  if (scenario == kScenarioCyclicFrames) {
    // A corrupt stack: the frame pointer leads to a frame that names itself
    // as its caller's.
    static uintptr_t cycle[2];
    cycle[0] = reinterpret_cast<uintptr_t>(cycle);
    cycle[1] = reinterpret_cast<uintptr_t>(FaultInner);
    asm volatile("mov %0, %%ebp\n\tmovl $1, 0x10" : : "r"(cycle) : "memory");
  }
  volatile int* volatile target = reinterpret_cast<int*>(0x10);
  *target = 1;
}

__attribute__((noinline)) void FaultOuter() {
  Fact("frame", reinterpret_cast<uintptr_t>(__builtin_return_address(0)));
  FaultInner();
  std::puts("not reached");
}

// Ends the process the way the system does after a filter's verdict: no
// library sees a detach.
LONG WINAPI ForwardingFilter(EXCEPTION_POINTERS* pointers) {
  TerminateProcess(GetCurrentProcess(), kVerdictExitBase + static_cast<UINT>(crashFilter(pointers)));
  return EXCEPTION_EXECUTE_HANDLER;
}

// The current thread's Havok memory block, with four allocators; the
// statistics function of the allocator `odd` behaves as `behaviour` says.
void GiveThreadHavokBlock(DWORD slot, int odd, standin::AllocatorBehaviour behaviour) {
  static standin::GameAllocator allocators[4];
  static uint8_t block[0x40];
  for (int i = 0; i < 4; ++i) {
    const int32_t numbers[6] = {i * 1000 + 1, i * 1000 + 2, i * 1000 + 3,
                                i * 1000 + 4, i * 1000 + 5, i * 1000 + 6};
    standin::MakeGameAllocator(allocators[i], numbers,
                               i == odd ? behaviour : standin::AllocatorBehaviour::Normal);
    void* allocator = &allocators[i];
    std::memcpy(block + standin::kHavokAllocatorOffsets[i], &allocator, sizeof allocator);
    Fact("allocator", reinterpret_cast<uintptr_t>(allocator));
  }
  TlsSetValue(slot, block);
}

}  // namespace

// Makes dbghelp's MiniDumpWriteDump fail: "xor eax, eax; ret 28".
void BreakDumpWriter() {
  auto* writer =
      reinterpret_cast<uint8_t*>(GetProcAddress(GetModuleHandleA("dbghelp.dll"), "MiniDumpWriteDump"));
  const uint8_t fail[] = {0x31, 0xC0, 0xC2, 0x1C, 0x00};
  DWORD old;
  VirtualProtect(writer, sizeof fail, PAGE_EXECUTE_READWRITE, &old);
  std::memcpy(writer, fail, sizeof fail);
}

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  scenario = argv[1];
  facts = std::fopen(kFactsPath, "w");
  if (facts == nullptr) return 3;

  standin::PlaceGameMath();
  standin::PlaceGameCrashRoutines(scenario == kScenarioSaveBlock   ? standin::SaveBehaviour::Block
                                  : scenario == kScenarioSaveFault ? standin::SaveBehaviour::Fault
                                                                   : standin::SaveBehaviour::ReturnAfter2ms);
  static int saveManager;
  standin::GameGlobal<void*>(game::kSaveManager) = scenario == kScenarioNoManager ? nullptr : &saveManager;
  Fact("manager", reinterpret_cast<uintptr_t>(standin::GameGlobal<void*>(game::kSaveManager)));
  // The game gives every thread a Havok block slot early on.
  const DWORD slot = TlsAlloc();
  standin::GameGlobal<DWORD>(game::kHavokBlockSlot) = slot;
  if (scenario == kScenarioCxxHavok) GiveThreadHavokBlock(slot, 2, standin::AllocatorBehaviour::Fault);
  if (scenario == kScenarioHavokHang || scenario == kScenarioOverflowHang)
    GiveThreadHavokBlock(slot, 0, standin::AllocatorBehaviour::Hang);
  if (scenario == kScenarioHavokHangLocked)
    GiveThreadHavokBlock(slot, 0, standin::AllocatorBehaviour::HangLocked);
  if (scenario == kScenarioHavokBreak) GiveThreadHavokBlock(slot, 1, standin::AllocatorBehaviour::Break);
  if (scenario == kScenarioDumpFails) BreakDumpWriter();
  if (scenario == kScenarioReadSymbols || scenario == kScenarioOverflowMain ||
      scenario == kScenarioOverflowThread) {
    // Something else in the game set up the symbol handler.
    SymSetOptions(SymGetOptions() | SYMOPT_LOAD_LINES);
    SymInitialize(GetCurrentProcess(), nullptr, TRUE);
  }

  standin::Host host;
  if (!host.LoadPlugin() || !host.Query() || !host.Load()) return 4;
  MODULEINFO plugin = {};
  GetModuleInformation(GetCurrentProcess(), host.module(), &plugin, sizeof plugin);
  std::fprintf(facts, "plugin %08x %08x\n",
               static_cast<unsigned>(reinterpret_cast<uintptr_t>(plugin.lpBaseOfDll)),
               static_cast<unsigned>(plugin.SizeOfImage));

  // The game installs its filter (twice: the second call shows what the
  // first installed).
  auto gameFilter = reinterpret_cast<LPTOP_LEVEL_EXCEPTION_FILTER>(game::kTopLevelFilter);
  SetUnhandledExceptionFilter(gameFilter);
  Fact("installed", reinterpret_cast<uintptr_t>(SetUnhandledExceptionFilter(gameFilter)));
  if (scenario == kScenarioVerdict || scenario == kScenarioTwoThreads) {
    crashFilter = SetUnhandledExceptionFilter(ForwardingFilter);
    Fact("forwarded", reinterpret_cast<uintptr_t>(crashFilter));
  }
  if (scenario == kScenarioUnload) host.Unload();

  char module[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, module, MAX_PATH);
  std::fprintf(facts, "module %s\n", module);
  if (scenario == kScenarioOverflowThread) {
    WaitForSingleObject(CreateThread(nullptr, 0, OverflowThread, nullptr, 0, nullptr), INFINITE);
    return 0;
  }
  Fact("thread", GetCurrentThreadId());
  if (scenario == kScenarioOverflowMain || scenario == kScenarioOverflowHang) {
    std::fclose(facts);
    return Overflow(0);
  }
  if (scenario == kScenarioTwoThreads) {
    secondFaultMark = CreateFileA(kSecondFaultPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(CreateThread(nullptr, 0, LaterFault, started, 0, nullptr));
    WaitForSingleObject(started, INFINITE);
    HeapLock(GetProcessHeap());
  }
  if (scenario == kScenarioSecondHoldsHeap)
    CloseHandle(CreateThread(nullptr, 0, HeapHoldingCrasher, nullptr, 0, nullptr));
  if (scenario == kScenarioLoggingThread) {
    CloseHandle(CreateThread(nullptr, 0, LoggingThread, &host, 0, nullptr));
    Sleep(100);
    HeapLock(GetProcessHeap());
  }
  FaultOuter();
  return 0;
}
