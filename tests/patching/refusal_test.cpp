// Requests that the engine cannot carry out exactly are refused and change
// nothing; removals of code that is already gone still count.

#include <gtest/gtest.h>

#include <functional>

#include "engine_support.h"
#include "patching/patching.h"
#include "plugin/commit_report.h"
#include "shadercache/effect_sites.h"
#include "standin/standin.h"

namespace {

using enginetest::BytesAt;
using enginetest::CallWith2And3;
using enginetest::PlaceAdd;
using enginetest::ProtectionOf;

int __cdecl Hook(int a, int b) { return a - b; }
int __cdecl OtherHook(int a, int b) { return a * b; }
void* const kHook = reinterpret_cast<void*>(Hook);
void* const kOtherHook = reinterpret_cast<void*>(OtherHook);

LONG Alone(LONG (*operation)(PatchSite*, void*), PatchSite* site, void* hook) {
  EXPECT_EQ(PatchBegin(), NO_ERROR);
  LONG result = operation(site, hook);
  LONG committed = PatchCommit();
  return result != NO_ERROR ? result : committed;
}

// A queued attach of a function of its own, then `refused` must return 9
// without touching `watched`; the queued attach stays queued until the
// failed commit drops it.
void ExpectRefusedBeside(const std::function<LONG()>& refused, const uint8_t* watched) {
  uint8_t* other = PlaceAdd();
  PatchSite otherSite = other;
  std::vector<uint8_t> before = BytesAt(watched, 16);
  ASSERT_EQ(PatchBegin(), NO_ERROR);
  ASSERT_EQ(PatchAttach(&otherSite, kOtherHook), NO_ERROR);
  EXPECT_EQ(refused(), ERROR_INVALID_BLOCK);
  EXPECT_EQ(ProtectionOf(other), static_cast<DWORD>(PAGE_EXECUTE_READWRITE)) << "still queued";
  EXPECT_EQ(PatchCommit(), ERROR_INVALID_BLOCK);
  EXPECT_EQ(BytesAt(watched, 16), before);
  EXPECT_EQ(otherSite, other);
  EXPECT_EQ(CallWith2And3(other), 5);
}

TEST(PatchRefusal, AttachThenDetachOfOneSite) {
  uint8_t* add = PlaceAdd();
  PatchSite site = add;
  ExpectRefusedBeside(
      [&] {
        EXPECT_EQ(PatchAttach(&site, kHook), NO_ERROR);
        return PatchDetach(&site, kHook);
      },
      add);
  EXPECT_EQ(site, add);
  EXPECT_EQ(CallWith2And3(add), 5);
}

TEST(PatchRefusal, TargetsWhoseMovedBytesOverlap) {
  uint8_t* add = PlaceAdd();
  PatchSite site = add;
  PatchSite inside = add + 3;
  // In one transaction, either order.
  for (bool insideFirst : {false, true}) {
    ExpectRefusedBeside(
        [&] {
          EXPECT_EQ(PatchAttach(insideFirst ? &inside : &site, kHook), NO_ERROR);
          return PatchAttach(insideFirst ? &site : &inside, kOtherHook);
        },
        add);
  }
  // Against a live redirection: the same target through another site, or
  // one inside its moved bytes.
  ASSERT_EQ(Alone(PatchAttach, &site, kHook), NO_ERROR);
  PatchSite again = add;
  ExpectRefusedBeside([&] { return PatchAttach(&again, kOtherHook); }, add);
  ExpectRefusedBeside([&] { return PatchAttach(&inside, kOtherHook); }, add);
  EXPECT_EQ(CallWith2And3(add), -1);
  EXPECT_EQ(Alone(PatchDetach, &site, kHook), NO_ERROR);
  EXPECT_EQ(CallWith2And3(add), 5);
}

TEST(PatchRefusal, RemovalsThatWouldNotRestoreTheOriginalBytes) {
  uint8_t* add = PlaceAdd();
  PatchSite site = add;
  ASSERT_EQ(Alone(PatchAttach, &site, kHook), NO_ERROR);
  // Through a copy of the site: the site itself would keep a freed trampoline.
  PatchSite copy = site;
  ExpectRefusedBeside([&] { return PatchDetach(&copy, kHook); }, add);
  // Bytes written over since the attach (another patcher's jump).
  DWORD old;
  VirtualProtect(add, 5, PAGE_EXECUTE_READWRITE, &old);
  add[1] ^= 0x10;
  VirtualProtect(add, 5, old, &old);
  ExpectRefusedBeside([&] { return PatchDetach(&site, kHook); }, add);
  EXPECT_EQ(ProtectionOf(add), static_cast<DWORD>(PAGE_EXECUTE_READ));
}

TEST(PatchRefusal, RemovedInnerHookIsNothingToRemove) {
  uint8_t* add = PlaceAdd();
  PatchSite outer = add;
  ASSERT_EQ(Alone(PatchAttach, &outer, kHook), NO_ERROR);
  PatchSite inner = outer;  // a hook on the outer one's trampoline
  ASSERT_EQ(Alone(PatchAttach, &inner, kOtherHook), NO_ERROR);
  ASSERT_EQ(Alone(PatchDetach, &inner, kOtherHook), NO_ERROR);
  ASSERT_EQ(PatchBegin(), NO_ERROR);
  EXPECT_EQ(PatchDetach(&inner, kOtherHook), NO_ERROR);
  EXPECT_EQ(PatchDetach(&outer, kHook), NO_ERROR);
  EXPECT_EQ(PatchCommit(), NO_ERROR);
  EXPECT_EQ(outer, add);
  EXPECT_EQ(CallWith2And3(add), 5);
}

TEST(PatchRefusal, RemovalOfAnUnloadedTargetCountsAsDoneAndIsReported) {
  uint8_t* add = PlaceAdd();
  uint8_t* gone = PlaceAdd();
  std::vector<uint8_t> before = BytesAt(add, 16);
  PatchSite site = add;
  CreateEffectSite = gone;
  ASSERT_EQ(PatchBegin(), NO_ERROR);
  ASSERT_EQ(PatchAttach(&site, kHook), NO_ERROR);
  ASSERT_EQ(PatchAttach(&CreateEffectSite, kOtherHook), NO_ERROR);
  ASSERT_EQ(PatchCommit(), NO_ERROR);
  ASSERT_TRUE(VirtualFree(gone, 0, MEM_RELEASE));

  ASSERT_EQ(PatchBegin(), NO_ERROR);
  EXPECT_EQ(PatchDetach(&CreateEffectSite, kOtherHook), NO_ERROR);
  EXPECT_EQ(PatchDetach(&site, kHook), NO_ERROR);
  EXPECT_EQ(CommitAndReport("Detach"), NO_ERROR);
  EXPECT_EQ(BytesAt(add, 16), before);
  EXPECT_EQ(site, add);
  EXPECT_EQ(CreateEffectSite, gone);
  EXPECT_EQ(PatchReleasedSite(0), &CreateEffectSite);
  EXPECT_EQ(PatchReleasedSite(1), nullptr);
  std::vector<std::string> lines = standin::ReadLogLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(standin::WithoutTime(lines.back()),
            "WARNING: Detach: CreateEffectSite removed, its code was already unloaded");
}

}  // namespace
