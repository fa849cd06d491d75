// Havok resource retention: releases deferred by name or suppressed, and the
// two routines serialised behind their own locks.

#include <cstring>

#include "memory_support.h"

namespace {

using namespace standin;

// A resource's naming object: its fourth virtual function gives the name.
struct Naming {
  explicit Naming(const char* text) : name(text) {}
  virtual void Unused0() {}
  virtual void Unused1() {}
  virtual void Unused2() {}
  virtual const char* Name() { return name; }
  const char* name;
};

// The resource as the release reads it (0x08, 0x0C) and the stand-in game's
// release records it (0x10, 0x14). Each has a naming object of its own, so
// names are matched by their text.
struct Resource {
  Resource(const char* name, uint32_t retainField) : retain(retainField), naming(name) {}
  uint32_t unused[2] = {};
  Naming** namingLink = &namingPointer;
  uint32_t retain;
  uint32_t releasedWith = 0;
  uint32_t releases = 0;
  Naming naming;
  Naming* namingPointer = &naming;
};

void Release(Resource& resource, uint32_t argument) {
  CallMember(kGameResourceRelease, &resource, {argument});
}

TEST(HavokResources, ReleasesAreDeferredUntilTheNextOfTheSameName) {
  Host host;
  ASSERT_NO_FATAL_FAILURE(StartGame(host, "[Memory]\ndoNotReleaseHavokResource=0\n"));
  Resource first("Skeleton", 1), second("Skeleton", 1), third("Skeleton", 1), other("skeleton", 1);
  Resource atOnce("Skeleton", 0), unnamed("Skeleton", 1);
  unnamed.namingLink = nullptr;

  Release(first, 11);
  EXPECT_EQ(first.releases, 0u);
  Release(second, 22);
  EXPECT_EQ(first.releases, 1u);
  EXPECT_EQ(first.releasedWith, 22u);
  EXPECT_EQ(second.releases, 0u);

  // A name differing in case has an entry of its own.
  Release(other, 33);
  EXPECT_EQ(second.releases, 0u);
  EXPECT_EQ(other.releases, 0u);

  // Zero at 0x0C, or no naming object: released at once, never kept.
  Release(atOnce, 44);
  Release(unnamed, 45);
  EXPECT_EQ(atOnce.releases, 1u);
  EXPECT_EQ(atOnce.releasedWith, 44u);
  EXPECT_EQ(unnamed.releases, 1u);
  EXPECT_EQ(second.releases, 0u);

  Release(third, 55);
  EXPECT_EQ(second.releases, 1u);
  EXPECT_EQ(second.releasedWith, 55u);
  EXPECT_EQ(atOnce.releases, 1u);
  EXPECT_EQ(first.releases, 1u);

  // What the table still holds is never released by the plug-in.
  host.Unload();
  EXPECT_EQ(third.releases, 0u);
  EXPECT_EQ(other.releases, 0u);
}

TEST(HavokResources, ReleasesAreSuppressedByTheKey) {
  Host host;
  ASSERT_NO_FATAL_FAILURE(StartGame(host, "[Memory]\ndoNotReleaseHavokResource=true\n"));
  Resource named("Skeleton", 1), again("Skeleton", 1), atOnce("Skeleton", 0);
  for (Resource* resource : {&named, &again, &atOnce, &named}) Release(*resource, 1);
  EXPECT_EQ(named.releases + again.releases + atOnce.releases, 0u);
  // After shut-down the game's own release runs again.
  host.Unload();
  Release(atOnce, 2);
  EXPECT_EQ(atOnce.releases, 1u);
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

uint32_t Locked1(LockedObject& object) { return CallMember(kGameResourceLocked1, &object); }
void Locked2(LockedObject& object, float scale, uint32_t a, uint32_t b, uint32_t c) {
  uint32_t bits;
  std::memcpy(&bits, &scale, sizeof bits);
  CallMember(kGameResourceLocked2, &object, {bits, a, b, c});
}

TEST(HavokResources, LockedRoutinesRunOneThreadAtATimeEachBehindItsOwnLock) {
  Host host;
  ASSERT_NO_FATAL_FAILURE(StartGame(host, nullptr));
  LockedObject answer([] { return 0x12345678u; });
  EXPECT_EQ(Locked1(answer), 0x12345678u);
  Locked2(answer, 1.5f, 7, 8, 0xFFFFFFFF);
  EXPECT_EQ(answer.scale, 1.5f);
  EXPECT_EQ(answer.a, 7u);
  EXPECT_EQ(answer.b, 8u);
  EXPECT_EQ(answer.c, 0xFFFFFFFFu);

  volatile LONG inside = 0, most = 0;
  auto task = [&]() -> uint32_t {
    const LONG now = InterlockedIncrement(&inside);
    if (now > most) most = now;
    for (int i = 0; i < 20; ++i) SwitchToThread();
    InterlockedDecrement(&inside);
    return 1;
  };
  for (bool second : {false, true}) {
    inside = most = 0;
    LockedObject x(task), y(task);
    auto call = [&](LockedObject& object) {
      for (int i = 0; i < 50; ++i) second ? Locked2(object, 0, 0, 0, 0) : static_cast<void>(Locked1(object));
    };
    GameThread tx([&] { call(x); }), ty([&] { call(y); });
    EXPECT_TRUE(tx.Join());
    EXPECT_TRUE(ty.Join());
    EXPECT_EQ(most, 1) << (second ? "second" : "first");
  }

  // The same thread re-enters; another thread may run the other routine
  // meanwhile.
  Event otherDone;
  LockedObject other([&] {
    otherDone.Set();
    return 0u;
  });
  LockedObject inner([] { return 5u; });
  LockedObject outer([&]() -> uint32_t {
    GameThread elsewhere([&] { Locked2(other, 0, 0, 0, 0); });
    return otherDone.Wait() ? Locked1(inner) : 0;
  });
  uint32_t result = 0;
  GameThread nesting([&] { result = Locked1(outer); });
  EXPECT_TRUE(nesting.Join());
  EXPECT_EQ(result, 5u);
}

}  // namespace
