#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "engine_support.h"
#include "patching/patching.h"
#include "plugin/commit_report.h"
#include "shadercache/effect_sites.h"
#include "standin/standin.h"

namespace {

using enginetest::AsTrampoline;
using enginetest::BytesAt;
using enginetest::Code;
using enginetest::JumpDestination;
using enginetest::Place;
using enginetest::ProtectionOf;
using enginetest::RegionOf;

using BinaryFn = int(__cdecl*)(int, int);

PatchSite addSite;
PatchSite mulSite;
PatchSite subSite;

int __cdecl AddHook(int a, int b) { return reinterpret_cast<BinaryFn>(addSite)(a, b) + 1000; }
int __cdecl MulHook(int a, int b) { return reinterpret_cast<BinaryFn>(mulSite)(a, b) + 2000; }
int __cdecl SubHook(int a, int b) { return reinterpret_cast<BinaryFn>(subSite)(a, b) + 3000; }
void* const kAddHook = reinterpret_cast<void*>(AddHook);
void* const kMulHook = reinterpret_cast<void*>(MulHook);
void* const kSubHook = reinterpret_cast<void*>(SubHook);

// push ebp; mov ebp,esp; mov eax,[ebp+8]; <op> eax,[ebp+12]; pop ebp; ret
uint8_t* NewAdd() {
  return Place(Code().Put({0x55, 0x8B, 0xEC, 0x8B, 0x45, 0x08, 0x03, 0x45, 0x0C, 0x5D, 0xC3}));
}
uint8_t* NewMul() {
  return Place(Code().Put({0x55, 0x8B, 0xEC, 0x8B, 0x45, 0x08, 0x0F, 0xAF, 0x45, 0x0C, 0x5D, 0xC3}));
}
uint8_t* NewSub() {
  return Place(Code().Put({0x55, 0x8B, 0xEC, 0x8B, 0x45, 0x08, 0x2B, 0x45, 0x0C, 0x5D, 0xC3}));
}

// A fresh add function, named by addSite.
uint8_t* NewAddAtSite() {
  uint8_t* add = NewAdd();
  addSite = add;
  return add;
}

bool ReadOnlyCode(const void* at) { return ProtectionOf(at) == static_cast<DWORD>(PAGE_EXECUTE_READ); }

int Call(const void* function, int a, int b) {
  return reinterpret_cast<BinaryFn>(const_cast<void*>(function))(a, b);
}

LONG AttachAlone(PatchSite* site, void* hook) {
  EXPECT_EQ(PatchBegin(), NO_ERROR);
  LONG attached = PatchAttach(site, hook);
  LONG committed = PatchCommit();
  return attached != NO_ERROR ? attached : committed;
}

LONG DetachAlone(PatchSite* site, void* hook) {
  EXPECT_EQ(PatchBegin(), NO_ERROR);
  LONG detached = PatchDetach(site, hook);
  LONG committed = PatchCommit();
  return detached != NO_ERROR ? detached : committed;
}

TEST(PatchTransaction, AttachAndDetachRoundTripOnHandMadeCode) {
  uint8_t* add = NewAdd();
  std::vector<uint8_t> before = BytesAt(add, 16);
  addSite = add;
  ASSERT_EQ(PatchBegin(), NO_ERROR);
  ASSERT_EQ(PatchAttach(&addSite, kAddHook), NO_ERROR);
  // Nothing changes before commit, but the target is writable and so are
  // the regions.
  EXPECT_EQ(BytesAt(add, 16), before);
  EXPECT_EQ(addSite, add);
  EXPECT_EQ(ProtectionOf(add), static_cast<DWORD>(PAGE_EXECUTE_READWRITE));
  ASSERT_EQ(PatchCommit(), NO_ERROR);

  ASSERT_NE(addSite, add);
  uintptr_t region = RegionOf(addSite);
  EXPECT_EQ(*reinterpret_cast<uint32_t*>(region), 0x52727464u);
  EXPECT_EQ(JumpDestination(add), kAddHook);
  EXPECT_EQ(add[5], 0xCC) << "the rest of the moved bytes is int3";
  EXPECT_EQ(add[6], before[6]);
  EXPECT_TRUE(ReadOnlyCode(add));
  EXPECT_TRUE(ReadOnlyCode(addSite));
  const Trampoline* t = AsTrampoline(addSite);
  EXPECT_EQ(std::memcmp(t->code, before.data(), 6), 0);
  EXPECT_EQ(JumpDestination(t->code + 6), add + 6);

  EXPECT_EQ(Call(add, 2, 3), 1005) << "callers reach the replacement";
  EXPECT_EQ(Call(addSite, 2, 3), 5) << "the site reaches the original";

  ASSERT_EQ(DetachAlone(&addSite, kAddHook), NO_ERROR);
  EXPECT_EQ(addSite, add);
  EXPECT_EQ(BytesAt(add, 16), before);
  EXPECT_TRUE(ReadOnlyCode(add));
  EXPECT_EQ(Call(add, 2, 3), 5);
}

TEST(PatchTransaction, BeginIsRefusedWhileATransactionIsOpen) {
  EXPECT_EQ(PatchCommit(), ERROR_INVALID_OPERATION);
  EXPECT_EQ(PatchAbort(), ERROR_INVALID_OPERATION);
  ASSERT_EQ(PatchBegin(), NO_ERROR);
  EXPECT_EQ(PatchBegin(), ERROR_INVALID_OPERATION);
  EXPECT_EQ(PatchCommit(), NO_ERROR);
  EXPECT_EQ(PatchBegin(), NO_ERROR);
  EXPECT_EQ(PatchAbort(), NO_ERROR);
  EXPECT_EQ(PatchBegin(), NO_ERROR);
  EXPECT_EQ(PatchCommit(), NO_ERROR);
}

TEST(PatchTransaction, OtherThreadsAreRefusedWithoutFailingTheTransaction) {
  uint8_t* add = NewAddAtSite();
  ASSERT_EQ(PatchBegin(), NO_ERROR);
  std::atomic<int> checked{0};
  std::thread other([&] {
    PatchSite mine = add;
    EXPECT_EQ(PatchBegin(), ERROR_INVALID_OPERATION);
    EXPECT_EQ(PatchAttach(&mine, kAddHook), ERROR_INVALID_OPERATION);
    EXPECT_EQ(PatchDetach(&mine, kAddHook), ERROR_INVALID_OPERATION);
    EXPECT_EQ(PatchUpdateThread(GetCurrentThread()), ERROR_INVALID_OPERATION);
    PatchSite* failed = &mine;
    EXPECT_EQ(PatchCommit(&failed), ERROR_INVALID_OPERATION);
    EXPECT_EQ(PatchAbort(), ERROR_INVALID_OPERATION);
    EXPECT_EQ(mine, add);
    checked = 1;
  });
  other.join();
  ASSERT_EQ(checked, 1);
  EXPECT_EQ(PatchAttach(&addSite, kAddHook), NO_ERROR);
  EXPECT_EQ(PatchCommit(), NO_ERROR);
  EXPECT_EQ(Call(add, 1, 1), 1002);

  // Without a transaction nobody owns one.
  std::thread late([&] { EXPECT_EQ(PatchAttach(&addSite, kAddHook), ERROR_INVALID_OPERATION); });
  late.join();
  EXPECT_EQ(PatchAttach(&addSite, kAddHook), ERROR_INVALID_OPERATION);
}

TEST(PatchTransaction, NullSitePointerIsReportedButNotSticky) {
  uint8_t* add = NewAddAtSite();
  ASSERT_EQ(PatchBegin(), NO_ERROR);
  EXPECT_EQ(PatchAttach(nullptr, kAddHook), ERROR_INVALID_HANDLE);
  EXPECT_EQ(PatchDetach(nullptr, kAddHook), ERROR_INVALID_HANDLE);
  EXPECT_EQ(PatchAttach(&addSite, kAddHook), NO_ERROR);
  PatchSite* failed = &addSite;
  EXPECT_EQ(PatchCommit(&failed), NO_ERROR);
  EXPECT_EQ(failed, nullptr);
  EXPECT_EQ(Call(add, 1, 2), 1003);
}

TEST(PatchTransaction, SiteHoldingNullFailsTheWholeTransaction) {
  uint8_t* add = NewAdd();
  uint8_t* mul = NewMul();
  std::vector<uint8_t> addBefore = BytesAt(add, 16);
  std::vector<uint8_t> mulBefore = BytesAt(mul, 16);
  addSite = add;
  mulSite = mul;
  PatchSite empty = nullptr;
  ASSERT_EQ(PatchBegin(), NO_ERROR);
  EXPECT_EQ(PatchAttach(&addSite, kAddHook), NO_ERROR);
  EXPECT_EQ(PatchAttach(&empty, kAddHook), ERROR_INVALID_HANDLE);
  // Sticky: later calls return the first error and do nothing.
  EXPECT_EQ(PatchAttach(&mulSite, kMulHook), ERROR_INVALID_HANDLE);
  EXPECT_EQ(PatchDetach(&addSite, kAddHook), ERROR_INVALID_HANDLE);
  EXPECT_EQ(PatchUpdateThread(GetCurrentThread()), ERROR_INVALID_HANDLE);
  PatchSite* failed = nullptr;
  EXPECT_EQ(PatchCommit(&failed), ERROR_INVALID_HANDLE);
  EXPECT_EQ(failed, &empty);

  EXPECT_EQ(addSite, add);
  EXPECT_EQ(mulSite, mul);
  EXPECT_EQ(BytesAt(add, 16), addBefore);
  EXPECT_EQ(BytesAt(mul, 16), mulBefore);
  EXPECT_TRUE(ReadOnlyCode(add));
  EXPECT_EQ(Call(add, 2, 2), 4);

  // The transaction is closed and the next one starts clean.
  EXPECT_EQ(AttachAlone(&addSite, kAddHook), NO_ERROR);
  EXPECT_EQ(Call(add, 2, 2), 1004);
}

TEST(PatchTransaction, NullReplacementIsRefused) {
  uint8_t* add = NewAddAtSite();
  EXPECT_EQ(AttachAlone(&addSite, nullptr), ERROR_INVALID_HANDLE);
  EXPECT_EQ(addSite, add);
  EXPECT_EQ(Call(add, 2, 2), 4);
}

TEST(PatchTransaction, AttachingTheReplacementItselfQueuesNothing) {
  uint8_t* add = NewAdd();
  std::vector<uint8_t> before = BytesAt(add, 16);
  PatchSite site = add;
  ASSERT_EQ(PatchBegin(), NO_ERROR);
  EXPECT_EQ(PatchAttach(&site, add), NO_ERROR);
  PatchSite* failed = nullptr;
  EXPECT_EQ(PatchCommit(&failed), NO_ERROR);
  EXPECT_EQ(failed, &site);
  EXPECT_EQ(site, add);
  EXPECT_EQ(BytesAt(add, 16), before);
}

TEST(PatchTransaction, TargetsThatEndWithinFiveBytes) {
  // ret at offset 0 followed by code: nothing can move.
  uint8_t* early = Place(Code().Put({0xC3, 0x55, 0x8B, 0xEC, 0x5D, 0xC3}));
  PatchSite site = early;
  EXPECT_EQ(AttachAlone(&site, kAddHook), ERROR_INVALID_BLOCK);
  EXPECT_EQ(site, early);
  EXPECT_EQ(early[0], 0xC3);

  // xor eax,eax; ret; then padding: the padding moves with it.
  uint8_t* padded = Place(Code().Put({0x33, 0xC0, 0xC3, 0x90, 0x90, 0x90, 0x55}));
  site = padded;
  ASSERT_EQ(AttachAlone(&site, kAddHook), NO_ERROR);
  EXPECT_EQ(AsTrampoline(site)->restoreLength, 5);
  EXPECT_EQ(AsTrampoline(site)->codeLength, 3);
  EXPECT_EQ(Call(site, 7, 8), 0);
  EXPECT_EQ(padded[5], 0x90);
  ASSERT_EQ(DetachAlone(&site, kAddHook), NO_ERROR);
  EXPECT_EQ(BytesAt(padded, 7), (std::vector<uint8_t>{0x33, 0xC0, 0xC3, 0x90, 0x90, 0x90, 0x55}));
}

TEST(PatchTransaction, UnmovableTargetsAreRefusedWithTheirCodes) {
  struct Case {
    Code code;
    LONG error;
  };
  Case cases[] = {
      {Code().Put({0xE2, 0x10, 0x90, 0x90, 0x90, 0x90}), ERROR_INVALID_BLOCK},        // loop
      {Code().Put({0xF3, 0x0F, 0x1E, 0xFB, 0x55, 0x8B, 0xEC}), ERROR_INVALID_BLOCK},  // not decoded
      {Code().Put({0x74, 0x01, 0x40, 0x40, 0x40, 0x40, 0xC3}), ERROR_INVALID_BLOCK},  // branch inside
      // Functions that end, under a prefix or through a register or far,
      // before five bytes: the next function's bytes must not move.
      {Code().Put({0xF3, 0xC3, 0x55, 0x8B, 0xEC}), ERROR_INVALID_BLOCK},
      {Code().Put({0x3E, 0xEB, 0x00, 0x55, 0x8B, 0xEC}), ERROR_INVALID_BLOCK},
      {Code().Put({0x33, 0xC0, 0xFF, 0xE0, 0x55, 0x8B, 0xEC}), ERROR_INVALID_BLOCK},
      {Code().Put({0xCB, 0x55, 0x8B, 0xEC, 0x5D}), ERROR_INVALID_BLOCK},
      {Code().Put({0x33, 0xC0, 0x0F, 0x0B, 0x55, 0x8B, 0xEC}), ERROR_INVALID_BLOCK},  // ud2
      {Code().Put({0xCD, 0x29, 0x55, 0x8B, 0xEC}), ERROR_INVALID_BLOCK},              // int 29h
      {Code().Put({0x70, 0x20, 0x71, 0x20, 0x2E, 0x3E, 0x26, 0xC7, 0x84, 0x24, 0x00, 0x01, 0x00, 0x00, 0x78,
                   0x56, 0x34, 0x12}),
       ERROR_INVALID_HANDLE},  // code area overrun
  };
  for (Case& c : cases) {
    uint8_t* target = Place(c.code);
    std::vector<uint8_t> before = BytesAt(target, c.code.size());
    PatchSite site = target;
    EXPECT_EQ(AttachAlone(&site, kAddHook), c.error);
    EXPECT_EQ(site, target);
    EXPECT_EQ(BytesAt(target, c.code.size()), before);
    EXPECT_TRUE(ReadOnlyCode(target));
  }
  // A site naming memory that is not readable code, or code that runs into
  // an inaccessible page before five bytes are covered.
  auto* pages =
      static_cast<uint8_t*>(VirtualAlloc(nullptr, 0x2000, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
  DWORD old;
  VirtualProtect(pages + 0x1000, 0x1000, PAGE_NOACCESS, &old);
  std::memcpy(pages + 0x1000 - 3, "\x55\x8B\xEC", 3);
  for (void* bogus : {reinterpret_cast<void*>(0x10), static_cast<void*>(pages + 0x1000 - 3),
                      static_cast<void*>(pages + 0x1000)}) {
    PatchSite site = bogus;
    EXPECT_EQ(AttachAlone(&site, kAddHook), ERROR_INVALID_HANDLE) << bogus;
    EXPECT_EQ(site, bogus);
  }
}

TEST(PatchTransaction, DetachRefusesWhatIsNotAnAttachedTrampoline) {
  uint8_t* add = NewAddAtSite();
  // Never attached: nothing to remove, and nothing is touched.
  std::vector<uint8_t> before = BytesAt(add, 16);
  EXPECT_EQ(DetachAlone(&addSite, kAddHook), NO_ERROR);
  EXPECT_EQ(addSite, add);
  EXPECT_EQ(BytesAt(add, 16), before);
  PatchSite nothing = reinterpret_cast<void*>(0x10);
  EXPECT_EQ(DetachAlone(&nothing, kAddHook), NO_ERROR);
  PatchSite empty = nullptr;
  EXPECT_EQ(DetachAlone(&empty, kAddHook), ERROR_INVALID_HANDLE);

  ASSERT_EQ(AttachAlone(&addSite, kAddHook), NO_ERROR);
  PatchSite attached = addSite;
  // Another replacement, or a pointer into the trampoline.
  EXPECT_EQ(DetachAlone(&addSite, kMulHook), ERROR_INVALID_BLOCK);
  PatchSite inside = static_cast<uint8_t*>(addSite) + 4;
  EXPECT_EQ(DetachAlone(&inside, kAddHook), ERROR_INVALID_BLOCK);
  // The same trampoline twice in one transaction: the second is refused and
  // the transaction fails, so nothing is removed.
  ASSERT_EQ(PatchBegin(), NO_ERROR);
  PatchSite copy = addSite;
  EXPECT_EQ(PatchDetach(&addSite, kAddHook), NO_ERROR);
  EXPECT_EQ(PatchDetach(&copy, kAddHook), ERROR_INVALID_BLOCK);
  EXPECT_EQ(PatchCommit(), ERROR_INVALID_BLOCK);

  EXPECT_EQ(addSite, attached);
  EXPECT_EQ(Call(add, 1, 1), 1002);
  EXPECT_EQ(DetachAlone(&addSite, kAddHook), NO_ERROR);
  EXPECT_EQ(Call(add, 1, 1), 2);
}

TEST(PatchTransaction, SecondOperationOnAQueuedSiteOrTargetIsRefused) {
  uint8_t* add = NewAddAtSite();
  std::vector<uint8_t> before = BytesAt(add, 16);
  PatchSite copy = add;
  // Two replacements through one site, or one target through two sites.
  for (PatchSite* second : {&addSite, &copy}) {
    ASSERT_EQ(PatchBegin(), NO_ERROR);
    EXPECT_EQ(PatchAttach(&addSite, kAddHook), NO_ERROR);
    EXPECT_EQ(PatchAttach(second, kMulHook), ERROR_INVALID_BLOCK);
    EXPECT_EQ(PatchCommit(), ERROR_INVALID_BLOCK);
    EXPECT_EQ(addSite, add);
    EXPECT_EQ(BytesAt(add, 16), before);
  }
  // A removal and a new attach of one site.
  ASSERT_EQ(AttachAlone(&addSite, kAddHook), NO_ERROR);
  PatchSite attached = addSite;
  std::vector<uint8_t> installed = BytesAt(add, 16);
  ASSERT_EQ(PatchBegin(), NO_ERROR);
  EXPECT_EQ(PatchDetach(&addSite, kAddHook), NO_ERROR);
  EXPECT_EQ(PatchAttach(&addSite, kMulHook), ERROR_INVALID_BLOCK);
  EXPECT_EQ(PatchCommit(), ERROR_INVALID_BLOCK);
  EXPECT_EQ(addSite, attached);
  EXPECT_EQ(BytesAt(add, 16), installed);
  EXPECT_EQ(Call(add, 1, 1), 1002);
}

TEST(PatchTransaction, RequestsThatCannotBeUndoneExactlyAreRefused) {
  uint8_t* add = NewAddAtSite();
  PatchSite inside = add + 3, copy = add;
  std::vector<uint8_t> expected = BytesAt(add, 16);
  // Each beside a queued attach, which the refusal leaves queued.
  auto refused = [&](auto second) {
    mulSite = NewMul();
    ASSERT_EQ(PatchBegin(), NO_ERROR);
    ASSERT_EQ(PatchAttach(&mulSite, kMulHook), NO_ERROR);
    EXPECT_EQ(second(), ERROR_INVALID_BLOCK);
    EXPECT_EQ(ProtectionOf(mulSite), static_cast<DWORD>(PAGE_EXECUTE_READWRITE));
    EXPECT_EQ(PatchCommit(), ERROR_INVALID_BLOCK);
    EXPECT_EQ(BytesAt(add, 16), expected);
  };
  refused([&] { return PatchAttach(&addSite, kAddHook) ? -1 : PatchDetach(&addSite, kAddHook); });
  refused([&] { return PatchAttach(&addSite, kAddHook) ? -1 : PatchAttach(&inside, kSubHook); });
  refused([&] { return PatchAttach(&inside, kSubHook) ? -1 : PatchAttach(&addSite, kAddHook); });
  ASSERT_EQ(AttachAlone(&addSite, kAddHook), NO_ERROR);
  expected = BytesAt(add, 16);
  refused([&] { return PatchAttach(&copy, kSubHook); });  // the same target again
  refused([&] { return PatchAttach(&inside, kSubHook); });
  copy = addSite;
  refused([&] { return PatchDetach(&copy, kAddHook); });  // not through its own site
  DWORD old;
  VirtualProtect(add, 5, PAGE_EXECUTE_READWRITE, &old);
  add[1] ^= 0x10;  // written over since the attach
  expected = BytesAt(add, 16);
  refused([&] { return PatchDetach(&addSite, kAddHook); });
}

TEST(PatchTransaction, RemovalOfUnloadedCodeCountsAsDoneAndIsReported) {
  uint8_t* add = NewAddAtSite();
  uint8_t* gone = NewMul();
  CreateEffectSite = gone;
  ASSERT_EQ(AttachAlone(&addSite, kAddHook) + AttachAlone(&CreateEffectSite, kMulHook), NO_ERROR);
  ASSERT_TRUE(VirtualFree(gone, 0, MEM_RELEASE));
  ASSERT_EQ(PatchBegin(), NO_ERROR);
  ASSERT_EQ(PatchDetach(&CreateEffectSite, kMulHook) + PatchDetach(&addSite, kAddHook), NO_ERROR);
  EXPECT_EQ(CommitAndReport("Detach"), NO_ERROR);
  EXPECT_EQ(Call(add, 2, 3), 5);
  EXPECT_EQ(PatchReleasedSite(0), &CreateEffectSite);
  std::vector<std::string> lines = standin::ReadLogLines();
  EXPECT_EQ(standin::WithoutTime(lines.empty() ? "" : lines.back()),
            "WARNING: Detach: CreateEffectSite removed, its code was already unloaded");
}

TEST(PatchTransaction, StackedHooksComeOffInEitherOrder) {
  for (bool outerFirst : {true, false}) {
    uint8_t* add = NewAdd();
    std::vector<uint8_t> before = BytesAt(add, 16);
    addSite = add;
    ASSERT_EQ(AttachAlone(&addSite, kAddHook), NO_ERROR);
    PatchSite outer = addSite;
    std::vector<uint8_t> outerBefore = BytesAt(outer, sizeof(Trampoline));
    mulSite = outer;  // a hook on the trampoline itself
    ASSERT_EQ(AttachAlone(&mulSite, kMulHook), NO_ERROR);
    EXPECT_EQ(Call(add, 2, 3), 3005);
    if (outerFirst) {
      ASSERT_EQ(DetachAlone(&addSite, kAddHook), NO_ERROR);
      EXPECT_EQ(Call(add, 2, 3), 5);
      EXPECT_EQ(Call(mulSite, 2, 3), 5) << "the inner hook still runs through the removed one's code";
      ASSERT_EQ(DetachAlone(&mulSite, kMulHook), NO_ERROR);
    } else {
      ASSERT_EQ(DetachAlone(&mulSite, kMulHook), NO_ERROR);
      EXPECT_EQ(DetachAlone(&mulSite, kMulHook), NO_ERROR) << "already removed";
      EXPECT_EQ(BytesAt(outer, sizeof(Trampoline)), outerBefore);
      EXPECT_EQ(Call(add, 2, 3), 1005);
      ASSERT_EQ(DetachAlone(&addSite, kAddHook), NO_ERROR);
    }
    EXPECT_EQ(mulSite, outer);
    EXPECT_EQ(addSite, add);
    EXPECT_EQ(BytesAt(add, 16), before);
    EXPECT_EQ(Call(add, 2, 3), 5);
  }
}

TEST(PatchTransaction, MovedBytesAcrossTwoPagesKeepEachPagesProtection) {
  auto* pages =
      static_cast<uint8_t*>(VirtualAlloc(nullptr, 0x2000, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
  uint8_t* add = pages + 0x1000 - 3;
  std::memcpy(add, NewAdd(), 11);
  std::vector<uint8_t> before = BytesAt(add, 11);
  DWORD old;
  VirtualProtect(pages, 0x1000, PAGE_EXECUTE_READ, &old);
  auto protectionsKept = [&] {
    EXPECT_TRUE(ReadOnlyCode(pages));
    EXPECT_EQ(ProtectionOf(pages + 0x1000), static_cast<DWORD>(PAGE_EXECUTE_READWRITE));
  };
  addSite = add;
  ASSERT_EQ(AttachAlone(&addSite, kAddHook), NO_ERROR);
  protectionsKept();
  EXPECT_EQ(Call(add, 2, 3), 1005);
  ASSERT_EQ(DetachAlone(&addSite, kAddHook), NO_ERROR);
  protectionsKept();
  EXPECT_EQ(BytesAt(add, 11), before);
}

TEST(PatchTransaction, AbortDropsTheQueueAndFreesNewTrampolines) {
  uint8_t* add = NewAdd();
  uint8_t* mul = NewMul();
  addSite = add;
  mulSite = mul;
  ASSERT_EQ(AttachAlone(&mulSite, kMulHook), NO_ERROR);
  PatchSite mulTrampoline = mulSite;
  std::vector<uint8_t> mulPatched = BytesAt(mul, 16);
  std::vector<uint8_t> addBefore = BytesAt(add, 16);

  ASSERT_EQ(PatchBegin(), NO_ERROR);
  EXPECT_EQ(PatchAttach(&addSite, kAddHook), NO_ERROR);
  EXPECT_EQ(PatchDetach(&mulSite, kMulHook), NO_ERROR);
  EXPECT_EQ(PatchAbort(), NO_ERROR);

  EXPECT_EQ(addSite, add);
  EXPECT_EQ(mulSite, mulTrampoline);
  EXPECT_EQ(BytesAt(add, 16), addBefore);
  EXPECT_EQ(BytesAt(mul, 16), mulPatched);
  EXPECT_TRUE(ReadOnlyCode(add));
  EXPECT_TRUE(ReadOnlyCode(mul));
  EXPECT_TRUE(ReadOnlyCode(mulTrampoline));
  EXPECT_EQ(Call(mul, 3, 4), 2012);

  // The aborted attach's slot is the next one handed out.
  ASSERT_EQ(AttachAlone(&addSite, kAddHook), NO_ERROR);
  EXPECT_EQ(static_cast<uint8_t*>(addSite), static_cast<uint8_t*>(mulTrampoline) + sizeof(Trampoline));
}

TEST(PatchTransaction, FailureMidTransactionLeavesEveryOtherTargetUnchanged) {
  uint8_t* add = NewAdd();
  uint8_t* mul = NewMul();
  uint8_t* sub = NewSub();
  uint8_t* stuck = Place(Code().Put({0xE3, 0x10, 0x55, 0x8B, 0xEC, 0xC3}));  // jecxz first
  addSite = add;
  mulSite = mul;
  subSite = sub;
  ASSERT_EQ(AttachAlone(&mulSite, kMulHook), NO_ERROR);
  PatchSite mulTrampoline = mulSite;
  std::vector<uint8_t> addBefore = BytesAt(add, 16);
  std::vector<uint8_t> mulPatched = BytesAt(mul, 16);
  std::vector<uint8_t> subBefore = BytesAt(sub, 16);
  std::vector<uint8_t> stuckBefore = BytesAt(stuck, 16);

  PatchSite stuckSite = stuck;
  ASSERT_EQ(PatchBegin(), NO_ERROR);
  EXPECT_EQ(PatchAttach(&addSite, kAddHook), NO_ERROR);
  EXPECT_EQ(PatchDetach(&mulSite, kMulHook), NO_ERROR);
  EXPECT_EQ(PatchAttach(&stuckSite, kSubHook), ERROR_INVALID_BLOCK);
  EXPECT_EQ(PatchAttach(&subSite, kSubHook), ERROR_INVALID_BLOCK);
  PatchSite* failed = nullptr;
  EXPECT_EQ(PatchCommit(&failed), ERROR_INVALID_BLOCK);
  EXPECT_EQ(failed, &stuckSite);

  EXPECT_EQ(addSite, add);
  EXPECT_EQ(mulSite, mulTrampoline);
  EXPECT_EQ(subSite, sub);
  EXPECT_EQ(stuckSite, stuck);
  EXPECT_EQ(BytesAt(add, 16), addBefore);
  EXPECT_EQ(BytesAt(mul, 16), mulPatched);
  EXPECT_EQ(BytesAt(sub, 16), subBefore);
  EXPECT_EQ(BytesAt(stuck, 16), stuckBefore);
  for (const void* page : {add, mul, sub, stuck}) EXPECT_TRUE(ReadOnlyCode(page));
  EXPECT_EQ(Call(add, 5, 6), 11);
  EXPECT_EQ(Call(mul, 5, 6), 2030);
  EXPECT_EQ(Call(sub, 5, 6), -1);

  // Both trampolines made in the failed transaction went back to the free
  // list: the next two attaches get the slots right after the live one.
  ASSERT_EQ(PatchBegin(), NO_ERROR);
  EXPECT_EQ(PatchAttach(&addSite, kAddHook), NO_ERROR);
  EXPECT_EQ(PatchAttach(&subSite, kSubHook), NO_ERROR);
  EXPECT_EQ(PatchCommit(), NO_ERROR);
  auto* next = static_cast<uint8_t*>(mulTrampoline) + sizeof(Trampoline);
  EXPECT_EQ(addSite, next);
  EXPECT_EQ(subSite, next + sizeof(Trampoline));
  EXPECT_EQ(Call(add, 5, 6), 1011);
  EXPECT_EQ(Call(sub, 5, 6), 2999);
}

std::atomic<unsigned> counter{0};
std::atomic<bool> stop{false};

DWORD WINAPI Count(void*) {
  while (!stop) ++counter;
  return 0;
}

TEST(PatchTransaction, EnlistedThreadsStaySuspendedUntilCommitOrAbort) {
  HANDLE worker = CreateThread(nullptr, 0, Count, nullptr, 0, nullptr);
  ASSERT_NE(worker, nullptr);
  while (counter < 1000) SwitchToThread();

  for (bool commit : {true, false}) {
    ASSERT_EQ(PatchBegin(), NO_ERROR);
    EXPECT_EQ(PatchUpdateThread(worker), NO_ERROR);
    unsigned seen = counter;
    Sleep(30);
    EXPECT_EQ(counter, seen) << "suspended while the transaction is open";
    EXPECT_EQ(commit ? PatchCommit() : PatchAbort(), NO_ERROR);
    while (counter == seen) SwitchToThread();
  }

  // The calling thread is never suspended, whichever handle names it.
  HANDLE self = nullptr;
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, 0, FALSE,
                  DUPLICATE_SAME_ACCESS);
  ASSERT_EQ(PatchBegin(), NO_ERROR);
  EXPECT_EQ(PatchUpdateThread(GetCurrentThread()), NO_ERROR);
  EXPECT_EQ(PatchUpdateThread(self), NO_ERROR);
  EXPECT_EQ(PatchCommit(), NO_ERROR);

  // Outside a transaction nothing is suspended.
  EXPECT_EQ(PatchUpdateThread(worker), ERROR_INVALID_OPERATION);
  unsigned seen = counter;
  while (counter == seen) SwitchToThread();

  // A handle that cannot be suspended fails the transaction.
  ASSERT_EQ(PatchBegin(), NO_ERROR);
  EXPECT_EQ(PatchUpdateThread(reinterpret_cast<HANDLE>(0x12345678)), ERROR_INVALID_HANDLE);
  NewAddAtSite();
  EXPECT_EQ(PatchAttach(&addSite, kAddHook), ERROR_INVALID_HANDLE);
  PatchSite* failed = &addSite;
  EXPECT_EQ(PatchCommit(&failed), ERROR_INVALID_HANDLE);
  EXPECT_EQ(failed, nullptr);

  stop = true;
  EXPECT_EQ(WaitForSingleObject(worker, 5000), WAIT_OBJECT_0);
  CloseHandle(worker);
  CloseHandle(self);
}

// Stand-ins for suspension as when the thread runs on another processor:
// SuspendThread returns at once, only a context read waits until it stops.
PatchSite suspendSite =
    reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32"), "SuspendThread"));
PatchSite contextSite =
    reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32"), "GetThreadContext"));
HANDLE late;
std::atomic<int> stopped{0};  // 1 once asked to, 2 once it has

DWORD WINAPI SuspendLate(HANDLE thread) {
  return thread != late ? reinterpret_cast<decltype(&SuspendThread)>(suspendSite)(thread) : (stopped = 1, 0);
}

BOOL WINAPI ContextOnceStopped(HANDLE thread, CONTEXT* context) {
  if (thread == late && stopped == 1 && reinterpret_cast<decltype(&SuspendThread)>(suspendSite)(thread) == 0)
    stopped = 2;
  return reinterpret_cast<decltype(&GetThreadContext)>(contextSite)(thread, context);
}

std::atomic<bool> heapsHeld{false};

// Holds every heap's lock, the C runtime's among them, until `stop`.
DWORD WINAPI HoldHeaps(void*) {
  HANDLE heaps[64];
  DWORD count = GetProcessHeaps(64, heaps);
  for (DWORD i = 0; i < count && i < 64; ++i) HeapLock(heaps[i]);
  for (heapsHeld = true; !stop;) SwitchToThread();
  for (DWORD i = 0; i < count && i < 64; ++i) HeapUnlock(heaps[i]);
  return 0;
}

TEST(PatchTransaction, EnlistedThreadsAreStoppedWhateverTheyHoldAndJudgedByTheirHandles) {
  uint8_t* add = NewAddAtSite();
  ASSERT_EQ(PatchBegin(), NO_ERROR);
  ASSERT_EQ(PatchAttach(&suspendSite, reinterpret_cast<void*>(SuspendLate)), NO_ERROR);
  ASSERT_EQ(PatchAttach(&contextSite, reinterpret_cast<void*>(ContextOnceStopped)), NO_ERROR);
  ASSERT_EQ(PatchCommit(), NO_ERROR);
  late = CreateThread(nullptr, 0, HoldHeaps, nullptr, 0, nullptr);
  HANDLE self = nullptr, lateLimited = nullptr;  // without query or context rights
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, THREAD_SUSPEND_RESUME,
                  0, 0);
  DuplicateHandle(GetCurrentProcess(), late, GetCurrentProcess(), &lateLimited, THREAD_SUSPEND_RESUME, 0, 0);
  while (!heapsHeld) SwitchToThread();
  // Nothing allocates here until the locks are released. The caller is known
  // by any handle; a thread that cannot be read or moved is left running.
  LONG results[] = {PatchBegin(), PatchUpdateThread(late), stopped, PatchAttach(&addSite, kAddHook)};
  LONG more[] = {PatchCommit(), PatchBegin(), PatchUpdateThread(self), PatchUpdateThread(lateLimited)};
  LONG last[] = {PatchCommit(), static_cast<LONG>(ResumeThread(lateLimited))};
  stop = true;
  ASSERT_EQ(WaitForSingleObject(late, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(std::vector<LONG>(results, results + 4), (std::vector<LONG>{0, 0, 2, 0}));
  EXPECT_EQ(std::vector<LONG>(more, more + 4), (std::vector<LONG>{0, 0, 0, ERROR_ACCESS_DENIED}));
  EXPECT_EQ(std::vector<LONG>(last, last + 2), (std::vector<LONG>{ERROR_ACCESS_DENIED, 0}));
  EXPECT_EQ(Call(add, 1, 1), 1002);
  ASSERT_EQ(PatchBegin(), NO_ERROR);
  EXPECT_EQ(PatchUpdateThread(std::exchange(late, nullptr)), NO_ERROR) << "exited, it runs no code";
  EXPECT_EQ(PatchCommit(), NO_ERROR);
}

}  // namespace
