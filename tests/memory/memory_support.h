#pragma once

// Helpers of the memory tests: calls made the way the game makes them, the
// plug-in started in the stand-in game, and threads and waits that are
// always bounded, so that a broken build fails instead of hanging.

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "standin/game_memory.h"
#include "standin/standin.h"

// One call in the game's member-function convention (game_call.S), checked:
// the callee must remove `argBytes` (4 per argument unless given) and keep
// EBX, ESI and EDI. ESP is misaligned as the game leaves it. Returns EAX.
uint32_t CallMember(uint32_t function, const void* object, std::vector<uint32_t> args = {}, uint32_t edx = 0,
                    int32_t argBytes = -1);

// Places the game's routines, writes the settings file (none for null) and
// loads the plug-in as the host does.
void StartGame(standin::Host& host, const char* settings);
std::vector<std::string> LogWithoutTimes();

// A game lock {owner thread id, count}, entered and left through the game's
// routines (the enter redirected while the loading fix is on).
struct GameLock {
  volatile LONG owner;
  volatile LONG count;
};
void EnterLock(GameLock& lock);
void LeaveLock(GameLock& lock);

constexpr DWORD kWaitLimitMs = 5000;
// Polls `condition` until it holds or `limitMs` passes.
bool Eventually(const std::function<bool()>& condition, DWORD limitMs);

struct Event {
  HANDLE handle = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ~Event() { CloseHandle(handle); }
  void Set() { SetEvent(handle); }
  bool Wait(DWORD limitMs = kWaitLimitMs) { return WaitForSingleObject(handle, limitMs) == WAIT_OBJECT_0; }
};

// A thread running `work`; one still running when joined at the limit is
// ended and reported.
class GameThread {
 public:
  explicit GameThread(std::function<void()> work);
  ~GameThread();
  bool Join();
  DWORD id() const { return id_; }

 private:
  static DWORD WINAPI Run(void* self);
  std::function<void()> work_;
  HANDLE handle_;
  DWORD id_ = 0;
};

// Counts the most threads inside Visit at once.
struct Crowd {
  volatile LONG inside = 0, most = 0;
  void Visit();
};

// Runs `call(thread)` 50 times on each of two threads (0 and 1).
void OnTwoThreads(const std::function<void(int thread)>& call);
