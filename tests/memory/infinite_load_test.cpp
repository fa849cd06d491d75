// The infinite-load fix on real threads: the gated routine follows the
// watched thread's wait, and the admitted thread enters a game lock held
// inside the tracked routine, which would otherwise wait for it for ever.
// Every wait is bounded, so a broken fix fails instead of hanging.

#include <cstddef>

#include "memory_support.h"

namespace {

using namespace standin;

// Game objects on the way to a thread id (at offset 0x24).
struct ThreadHolder {
  uint32_t unused[9];
  volatile DWORD threadId;
};
static_assert(offsetof(ThreadHolder, threadId) == 0x24, "thread id field");
struct WatchedRoot {
  uint32_t unused[0x78 / 4];
  ThreadHolder* holder;
};
struct AdmittedRoot {
  uint32_t unused[0x4c / 4];
  ThreadHolder** holder;
};
struct WaitObject {
  uint32_t unused[0x30 / 4];
  HANDLE event;
};

// The tracked routine's object {vtable, lock}: it runs `work`, its first
// virtual function, inside the lock.
struct TrackedObject {
  TrackedObject(GameLock* gameLock, std::function<bool()> task) : lock(gameLock), work(std::move(task)) {}
  virtual bool Run() { return work(); }
  GameLock* lock;
  std::function<bool()> work;
};

bool CallTracked(TrackedObject& object) {
  return static_cast<uint8_t>(CallMember(game::kTrackedCall, &object));
}

// Calls the gated routine from a thread other than the loading one until it
// has run or `forMs` has passed; gives its run count.
uint32_t GatedRunsFromAnotherThread(uint32_t& runs, DWORD forMs) {
  GameThread caller(
      [&] { Eventually([&] { return CallMember(game::kGatedCall, &runs), runs != 0; }, forMs); });
  EXPECT_TRUE(caller.Join());
  return runs;
}

TEST(InfiniteLoad, GatedRoutineRunsOnlyWhileTheWatchedThreadWaits) {
  Host host;
  ASSERT_NO_FATAL_FAILURE(StartGame(host, nullptr));
  ThreadHolder watched = {};
  WatchedRoot root = {};
  root.holder = &watched;
  GameGlobal<WatchedRoot*>(game::kWatchedThreadRoot) = &root;
  uint32_t runs = 0;
  EXPECT_EQ(GatedRunsFromAnotherThread(runs, 0), 0u);

  // Another thread blocked in the same wait does not open the gate. Every
  // wait answers its result, as the game's routine does (a wait without a
  // handle fails).
  Event otherEvent, watchedEvent;
  WaitObject otherWait = {}, watchedWait = {}, noWait = {};
  otherWait.event = otherEvent.handle;
  watchedWait.event = watchedEvent.handle;
  std::vector<uint32_t> results;
  GameThread other([&] { results.push_back(CallMember(game::kEventWait, &otherWait)); });
  EXPECT_EQ(GatedRunsFromAnotherThread(runs, 200), 0u);

  GameThread watcher([&] {
    watched.threadId = GetCurrentThreadId();
    results.push_back(CallMember(game::kEventWait, &noWait));
    results.push_back(CallMember(game::kEventWait, &watchedWait));
  });
  EXPECT_EQ(GatedRunsFromAnotherThread(runs, kWaitLimitMs), 1u);
  // Never on the thread that loaded the plug-in.
  CallMember(game::kGatedCall, &runs);
  EXPECT_EQ(runs, 1u);

  watchedEvent.Set();
  EXPECT_TRUE(watcher.Join());
  EXPECT_EQ(GatedRunsFromAnotherThread(runs, 0), 1u);
  otherEvent.Set();
  EXPECT_TRUE(other.Join());
  EXPECT_EQ(results, (std::vector<uint32_t>{WAIT_FAILED, WAIT_OBJECT_0, WAIT_OBJECT_0}));

  // A null link names no thread: the wait is a plain one.
  root.holder = nullptr;
  GameThread unlinked([&] { CallMember(game::kEventWait, &watchedWait); });
  EXPECT_TRUE(unlinked.Join());
}

// Thread A holds a lock inside the tracked routine and waits up to `holdMs`
// for thread B, named by the admitted chain (which `chain` may then break),
// to enter the same lock.
struct Contest {
  bool enteredWhileHeld = false;
  DWORD holder = 0, contender = 0, ownerSeen = 0;  // as B saw the lock once inside
  LONG countSeen = 0;
};

Contest RunContest(DWORD holdMs, void (*chain)(ThreadHolder&, AdmittedRoot&)) {
  GameLock lock = {};
  ThreadHolder admitted = {};
  ThreadHolder* admittedLink = &admitted;
  AdmittedRoot root = {};
  root.holder = &admittedLink;
  GameGlobal<AdmittedRoot*>(game::kAdmittedThreadRoot) = &root;

  Contest contest;
  Event holding, entered;
  TrackedObject tracked(&lock, [&] {
    holding.Set();
    return entered.Wait(holdMs);
  });
  GameThread b([&] {
    admitted.threadId = GetCurrentThreadId();
    chain(admitted, root);
    if (!holding.Wait()) return;
    EnterLock(lock);
    contest.ownerSeen = static_cast<DWORD>(lock.owner);
    contest.countSeen = lock.count;
    entered.Set();
    LeaveLock(lock);
  });
  GameThread a([&] { contest.enteredWhileHeld = CallTracked(tracked); });
  EXPECT_TRUE(a.Join());
  EXPECT_TRUE(b.Join());
  contest.holder = a.id();
  contest.contender = b.id();
  EXPECT_EQ(lock.count, 0);
  EXPECT_EQ(lock.owner, 0);
  GameGlobal<AdmittedRoot*>(game::kAdmittedThreadRoot) = nullptr;
  return contest;
}

TEST(InfiniteLoad, AdmittedThreadEntersALockHeldInsideTheTrackedRoutine) {
  Host host;
  ASSERT_NO_FATAL_FAILURE(StartGame(host, nullptr));
  const Contest contest = RunContest(kWaitLimitMs, [](ThreadHolder&, AdmittedRoot&) {});
  EXPECT_TRUE(contest.enteredWhileHeld);
  // The holder keeps the lock; the count includes both entries.
  EXPECT_EQ(contest.ownerSeen, contest.holder);
  EXPECT_EQ(contest.countSeen, 2);
}

TEST(InfiniteLoad, EveryOtherThreadWaitsForTheHolder) {
  Host host;
  ASSERT_NO_FATAL_FAILURE(StartGame(host, nullptr));
  void (*const chains[])(ThreadHolder&, AdmittedRoot&) = {
      [](ThreadHolder& holder, AdmittedRoot&) { holder.threadId = 1; },   // another thread is admitted
      [](ThreadHolder&, AdmittedRoot& root) { *root.holder = nullptr; },  // null links
      [](ThreadHolder&, AdmittedRoot& root) { root.holder = nullptr; },
      [](ThreadHolder&, AdmittedRoot&) { GameGlobal<AdmittedRoot*>(game::kAdmittedThreadRoot) = nullptr; },
  };
  for (auto chain : chains) {
    const Contest contest = RunContest(200, chain);
    EXPECT_FALSE(contest.enteredWhileHeld);
    EXPECT_EQ(contest.ownerSeen, contest.contender);
    EXPECT_EQ(contest.countSeen, 1);
  }
}

TEST(InfiniteLoad, ReentryNestingAndOneThreadAtATime) {
  Host host;
  ASSERT_NO_FATAL_FAILURE(StartGame(host, "[Memory]\nFixInfiniteLoad=1\n"));
  GameLock lock = {};
  EnterLock(lock);
  EnterLock(lock);
  EXPECT_EQ(static_cast<DWORD>(lock.owner), GetCurrentThreadId());
  EXPECT_EQ(lock.count, 2);
  LeaveLock(lock);
  LeaveLock(lock);

  // A tracked call inside a tracked call on the same thread goes through.
  GameLock innerLock = {};
  TrackedObject inner(&innerLock, [] { return true; });
  TrackedObject outer(&lock, [&] { return CallTracked(inner); });
  bool nested = false;
  GameThread nesting([&] { nested = CallTracked(outer); });
  EXPECT_TRUE(nesting.Join());
  EXPECT_TRUE(nested);

  // Tracked calls run one at a time, also on objects with locks of their own.
  Crowd crowd;
  GameLock locks[2] = {};
  TrackedObject objects[2] = {{&locks[0], [&] { return crowd.Visit(), true; }},
                              {&locks[1], [&] { return crowd.Visit(), true; }}};
  OnTwoThreads([&](int thread) { CallTracked(objects[thread]); });
  EXPECT_EQ(crowd.most, 1);
}

}  // namespace
