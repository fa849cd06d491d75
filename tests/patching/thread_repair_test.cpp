// Threads enlisted in a transaction that are stopped inside the bytes being
// moved resume at the same instruction in its new place.

#include <gtest/gtest.h>

#include <cstdio>

#include "engine_support.h"
#include "patching/patching.h"

namespace {

using enginetest::AsTrampoline;
using enginetest::Code;

// Writable and executable, so the tests can read back where threads went.
uint8_t* NewCodePage() {
  return static_cast<uint8_t*>(
      VirtualAlloc(nullptr, 0x1000, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
}

uint8_t* Put(uint8_t* at, const Code& code) {
  std::memcpy(at, code.bytes.data(), code.size());
  FlushInstructionCache(GetCurrentProcess(), at, code.size());
  return at;
}

volatile LONG parked;
volatile LONG result;

// A thread that counts while it waits to be moved.
struct Parked {
  HANDLE thread;
  uint8_t* park;
};

Parked StartParked(uint8_t* page) {
  // loop: inc dword [parked]; jmp loop
  uint8_t* park = Put(page, Code().Put({0xFF, 0x05}).PutAddress(&parked).Put({0xEB, 0xF8}));
  parked = 0;
  HANDLE thread =
      CreateThread(nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(park), nullptr, 0, nullptr);
  while (parked == 0) SwitchToThread();
  return Parked{thread, park};
}

// Moves a suspended thread to `ip` with the given registers.
void Place(HANDLE thread, const void* ip, DWORD eax, DWORD ecx) {
  CONTEXT context = {};
  context.ContextFlags = CONTEXT_FULL;
  ASSERT_TRUE(GetThreadContext(thread, &context));
  context.Eip = static_cast<DWORD>(reinterpret_cast<uintptr_t>(ip));
  context.Eax = eax;
  context.Ecx = ecx;
  // The flags as "test ecx,ecx" leaves them, for threads placed after it.
  constexpr DWORD kZeroFlag = 0x40;
  context.EFlags = ecx == 0 ? context.EFlags | kZeroFlag : context.EFlags & ~kZeroFlag;
  ASSERT_TRUE(SetThreadContext(thread, &context));
}

uintptr_t IpOf(HANDLE thread) {
  CONTEXT context = {};
  context.ContextFlags = CONTEXT_CONTROL;
  EXPECT_TRUE(GetThreadContext(thread, &context));
  return context.Eip;
}

LONG WaitForResult() {
  for (int i = 0; i < 5000 && result == 0; ++i) Sleep(1);
  return result;
}

// 0: test ecx,ecx        2: je +5 (to 9)        4: add eax,2
// 9: mov [result],eax   14: jmp $
// Nine bytes move; the je widens, so the trampoline's code is 2 + 6 + 5
// bytes, then the jump back at 13.
Code Target() {
  return Code()
      .Put({0x85, 0xC9, 0x74, 0x05, 0x05, 0x02, 0x00, 0x00, 0x00, 0xA3})
      .PutAddress(&result)
      .Put({0xEB, 0xFE});
}

struct Case {
  size_t from;  // offset of the stopped thread
  DWORD ecx;    // 0 takes the je
  size_t to;    // offset where it must resume
  LONG stored;  // what it stores from eax = 100
};

TEST(ThreadRepair, AttachMovesThreadsFromTheTargetIntoTheTrampoline) {
  const Case cases[] = {{0, 1, 0, 102}, {2, 0, 2, 100}, {2, 1, 2, 102}, {4, 1, 8, 102}, {9, 1, 9, 100}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.from);
    uint8_t* page = NewCodePage();
    Parked worker = StartParked(page);
    uint8_t* target = Put(page + 0x100, Target());
    ASSERT_NE(SuspendThread(worker.thread), static_cast<DWORD>(-1));
    Place(worker.thread, target + c.from, 100, c.ecx);
    result = 0;

    PatchSite site = target;
    ASSERT_EQ(PatchBegin(), NO_ERROR);
    ASSERT_EQ(PatchUpdateThread(worker.thread), NO_ERROR);
    ASSERT_EQ(PatchAttach(&site, worker.park), NO_ERROR);
    ASSERT_EQ(PatchCommit(), NO_ERROR);
    ASSERT_EQ(AsTrampoline(site)->restoreLength, 9);

    // Still suspended by this test: the place it will resume at.
    auto* code = static_cast<uint8_t*>(site);
    uintptr_t expected = reinterpret_cast<uintptr_t>(c.from < 9 ? code + c.to : target + c.to);
    EXPECT_EQ(IpOf(worker.thread), expected);
    ResumeThread(worker.thread);
    EXPECT_EQ(WaitForResult(), c.stored);
    TerminateThread(worker.thread, 0);
    CloseHandle(worker.thread);
  }
}

TEST(ThreadRepair, DetachMovesThreadsFromTheTrampolineBackIntoTheTarget) {
  // Code offsets in the trampoline: the je at 2, the add at 8, the jump back
  // at 13 (the whole move done: resume at 9, past it).
  const Case cases[] = {{0, 1, 0, 102}, {2, 0, 2, 100}, {8, 1, 4, 102}, {13, 1, 9, 100}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.from);
    uint8_t* page = NewCodePage();
    Parked worker = StartParked(page);
    uint8_t* target = Put(page + 0x100, Target());
    PatchSite site = target;
    ASSERT_EQ(PatchBegin(), NO_ERROR);
    ASSERT_EQ(PatchAttach(&site, worker.park), NO_ERROR);
    ASSERT_EQ(PatchCommit(), NO_ERROR);
    auto* code = static_cast<uint8_t*>(site);
    ASSERT_EQ(AsTrampoline(site)->codeLength, 13);

    ASSERT_NE(SuspendThread(worker.thread), static_cast<DWORD>(-1));
    Place(worker.thread, code + c.from, 100, c.ecx);
    result = 0;
    ASSERT_EQ(PatchBegin(), NO_ERROR);
    ASSERT_EQ(PatchUpdateThread(worker.thread), NO_ERROR);
    ASSERT_EQ(PatchDetach(&site, worker.park), NO_ERROR);
    ASSERT_EQ(PatchCommit(), NO_ERROR);
    EXPECT_EQ(site, target);

    EXPECT_EQ(IpOf(worker.thread), reinterpret_cast<uintptr_t>(target + c.to));
    ResumeThread(worker.thread);
    EXPECT_EQ(WaitForResult(), c.stored);
    TerminateThread(worker.thread, 0);
    CloseHandle(worker.thread);
  }
}

volatile LONG flag;
volatile LONG done;
volatile LONG passes;
PatchSite spinSite;

TEST(ThreadRepair, ThreadSpinningInTheMovedBytesSurvivesRepeatedAttachAndDetach) {
  uint8_t* page = NewCodePage();
  // entry: mov esi,[esp+4]; then the target:
  //   0: mov eax,[esi]  2: test eax,eax  4: je 0   (the whole loop moves)
  //   6: mov dword [done],1  16: xor eax,eax  18: ret 4
  uint8_t* entry =
      Put(page, Code()
                    .Put({0x8B, 0x74, 0x24, 0x04, 0x8B, 0x06, 0x85, 0xC0, 0x74, 0xFA, 0xC7, 0x05})
                    .PutAddress(&done)
                    .Put32(1)
                    .Put({0x33, 0xC0, 0xC2, 0x04, 0x00}));
  uint8_t* target = entry + 4;
  // The replacement marks a pass and goes on through the trampoline, so the
  // redirected loop runs trampoline -> target -> replacement -> trampoline.
  // (A plain store: a read-modify-write here would be where the thread is
  // nearly always found.)
  uint8_t* replacement =
      Put(page + 0x100,
          Code().Put({0xC7, 0x05}).PutAddress(&passes).Put32(1).Put({0xFF, 0x25}).PutAddress(&spinSite));
  std::vector<uint8_t> before(target, target + 16);

  flag = 0;
  HANDLE thread = CreateThread(nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(entry),
                               const_cast<LONG*>(&flag), 0, nullptr);
  ASSERT_NE(thread, nullptr);
  Sleep(5);

  int movedIntoTrampoline = 0;
  int movedIntoTarget = 0;
  spinSite = target;
  for (int cycle = 0; cycle < 30; ++cycle) {
    ASSERT_EQ(PatchBegin(), NO_ERROR);
    ASSERT_EQ(PatchUpdateThread(thread), NO_ERROR);
    uintptr_t ip = IpOf(thread);
    movedIntoTrampoline +=
        ip >= reinterpret_cast<uintptr_t>(target) && ip < reinterpret_cast<uintptr_t>(target + 6);
    passes = 0;
    ASSERT_EQ(PatchAttach(&spinSite, replacement), NO_ERROR);
    ASSERT_EQ(PatchCommit(), NO_ERROR);
    for (int i = 0; i < 2000 && passes == 0; ++i) Sleep(1);
    ASSERT_EQ(passes, 1) << "the thread runs through the redirection";

    auto* code = static_cast<uint8_t*>(spinSite);
    ASSERT_EQ(PatchBegin(), NO_ERROR);
    ASSERT_EQ(PatchUpdateThread(thread), NO_ERROR);
    ip = IpOf(thread);
    movedIntoTarget += ip >= reinterpret_cast<uintptr_t>(code) && ip < reinterpret_cast<uintptr_t>(code + 30);
    ASSERT_EQ(PatchDetach(&spinSite, replacement), NO_ERROR);
    ASSERT_EQ(PatchCommit(), NO_ERROR);
    ASSERT_EQ(spinSite, target);
    Sleep(1);
  }
  // The thread was caught inside the moved code on both sides.
  std::printf("moved into the trampoline %d times, back into the target %d times\n", movedIntoTrampoline,
              movedIntoTarget);
  EXPECT_GT(movedIntoTrampoline, 0);
  EXPECT_GT(movedIntoTarget, 0);
  EXPECT_EQ(std::vector<uint8_t>(target, target + 16), before);

  flag = 1;
  ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  DWORD exitCode = 1;
  GetExitCodeThread(thread, &exitCode);
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(done, 1);
  CloseHandle(thread);
}

}  // namespace
