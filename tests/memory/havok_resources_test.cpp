// Havok resource retention: releases deferred by name or suppressed, and the
// two routines serialised behind their own locks.

#include <cstring>

#include "memory_support.h"

namespace {

using namespace standin;

// A resource's naming object: its fourth virtual function gives the name.
struct Naming {
  virtual void Unused0() {}
  virtual void Unused1() {}
  virtual void Unused2() {}
  virtual const char* Name() { return name; }
  const char* name;
};

// The resource as the release reads it (0x08, 0x0C) and as the stand-in's
// release uses it (0x10 to 0x18). Each has its own naming object, so names
// are matched by their text.
struct Resource {
  Resource(const char* name, uint32_t retainField) : retain(retainField) { naming.name = name; }
  uint32_t unused[2] = {};
  Naming** namingLink = &namingPointer;
  uint32_t retain;
  volatile uint32_t releasedWith = 0;  // recorded before the game lock is taken
  volatile uint32_t releases = 0;
  GameLock* lock = nullptr;
  Naming naming;
  Naming* namingPointer = &naming;
};

using Released = std::pair<uint32_t, uint32_t>;  // times, last argument
Released Release(Resource& resource, uint32_t argument, Resource& watched) {
  CallMember(game::kHavokResourceRelease, &resource, {argument});
  return {watched.releases, watched.releasedWith};
}

TEST(HavokResources, ReleasesAreDeferredUntilTheNextOfTheSameName) {
  Host host;
  ASSERT_NO_FATAL_FAILURE(StartGame(host, "[Memory]\ndoNotReleaseHavokResource=0\n"));
  Resource first("Skeleton", 1), second("Skeleton", 1), third("Skeleton", 1), other("skeleton", 1);
  Resource atOnce("Skeleton", 0), unnamed("Skeleton", 1);
  unnamed.namingLink = nullptr;

  EXPECT_EQ(Release(first, 11, first), Released(0, 0));
  EXPECT_EQ(Release(second, 22, first), Released(1, 22));
  // A name differing in case has an entry of its own.
  EXPECT_EQ(Release(other, 33, second), Released(0, 0));
  // Zero at 0x0C, or no naming object: released at once and never kept.
  EXPECT_EQ(Release(atOnce, 44, atOnce), Released(1, 44));
  EXPECT_EQ(Release(unnamed, 45, unnamed), Released(1, 45));
  EXPECT_EQ(Release(third, 55, second), Released(1, 55));
  EXPECT_EQ(atOnce.releases + first.releases, 2u);

  // What the table still holds is never released by the plug-in.
  host.Unload();
  EXPECT_EQ(third.releases + other.releases, 0u);
}

// A thread in the game's release of a displaced resource waits for a game
// lock; its holder releases a resource of its own meanwhile, which displaces
// one whose release needs that lock again. Both finish.
TEST(HavokResources, GameReleasesRunOutsideTheTableLock) {
  Host host;
  ASSERT_NO_FATAL_FAILURE(StartGame(host, "[Memory]\ndoNotReleaseHavokResource=0\n"));
  GameLock lock = {};
  Resource kept("Ragdoll", 1), next("Ragdoll", 1), held("Cloth", 1), heldNext("Cloth", 1);
  kept.lock = held.lock = &lock;
  Release(kept, 1, kept);
  Release(held, 1, held);

  Event locked;
  GameThread holder([&] {
    EnterLock(lock);
    locked.Set();
    Eventually([&] { return kept.releasedWith == 2; }, kWaitLimitMs);
    Release(heldNext, 3, held);
    LeaveLock(lock);
  });
  GameThread releaser([&] {
    if (locked.Wait()) Release(next, 2, kept);
  });
  EXPECT_TRUE(holder.Join());
  EXPECT_TRUE(releaser.Join());
  EXPECT_EQ(Released(kept.releases, held.releases), Released(1, 1));
  EXPECT_EQ(held.releasedWith, 3u);
}

TEST(HavokResources, ReleasesAreSuppressedByTheKey) {
  Host host;
  ASSERT_NO_FATAL_FAILURE(StartGame(host, "[Memory]\ndoNotReleaseHavokResource=true\n"));
  Resource named("Skeleton", 1), again("Skeleton", 1), atOnce("Skeleton", 0);
  for (Resource* resource : {&named, &again, &atOnce, &named}) Release(*resource, 1, *resource);
  EXPECT_EQ(named.releases + again.releases + atOnce.releases, 0u);
  // After shut-down the game's own release runs again.
  host.Unload();
  EXPECT_EQ(Release(atOnce, 2, atOnce), Released(1, 2));
}

// What the two locked routines are called on: {vtable, four values}; they run
// `work`, its first virtual function.
struct LockedObject {
  explicit LockedObject(std::function<uint32_t()> task) : work(std::move(task)) {}
  virtual uint32_t Run() { return work(); }
  float scale = 0;
  uint32_t a = 0, b = 0, c = 0;
  std::function<uint32_t()> work;
};

uint32_t Locked1(LockedObject& object) { return CallMember(game::kHavokResourceLocked1, &object); }
void Locked2(LockedObject& object, float scale, uint32_t a, uint32_t b, uint32_t c) {
  uint32_t bits;
  std::memcpy(&bits, &scale, sizeof bits);
  CallMember(game::kHavokResourceLocked2, &object, {bits, a, b, c});
}

TEST(HavokResources, LockedRoutinesRunOneThreadAtATimeEachBehindItsOwnLock) {
  Host host;
  ASSERT_NO_FATAL_FAILURE(StartGame(host, nullptr));
  LockedObject answer([] { return 0x12345678u; });
  EXPECT_EQ(Locked1(answer), 0x12345678u);
  Locked2(answer, 1.5f, 7, 8, 0xFFFFFFFF);
  EXPECT_EQ(answer.scale, 1.5f);
  EXPECT_EQ(answer.a + answer.b, 15u);
  EXPECT_EQ(answer.c, 0xFFFFFFFFu);

  for (bool second : {false, true}) {
    Crowd crowd;
    LockedObject objects[2] = {LockedObject([&] { return crowd.Visit(), 1u; }),
                               LockedObject([&] { return crowd.Visit(), 1u; })};
    OnTwoThreads([&](int thread) {
      second ? Locked2(objects[thread], 0, 0, 0, 0) : static_cast<void>(Locked1(objects[thread]));
    });
    EXPECT_EQ(crowd.most, 1) << (second ? "second" : "first");
  }

  // The same thread re-enters; another thread runs the other routine
  // meanwhile.
  Event otherDone;
  LockedObject other([&] { return otherDone.Set(), 0u; });
  LockedObject inner([] { return 5u; });
  LockedObject outer([&] {
    GameThread elsewhere([&] { Locked2(other, 0, 0, 0, 0); });
    return otherDone.Wait() ? Locked1(inner) : 0u;
  });
  uint32_t result = 0;
  GameThread nesting([&] { result = Locked1(outer); });
  EXPECT_TRUE(nesting.Join());
  EXPECT_EQ(result, 5u);
}

}  // namespace
