#pragma once

// Helpers of the memory tests: calls into the game the way the game makes
// them, the plug-in started in the stand-in game, and threads and waits that
// are always bounded.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "standin/game_memory.h"
#include "standin/standin.h"

struct GameCall {
  uint32_t function;
  const void* object;
  uint32_t args[4];
  uint32_t argCount;
  uint32_t edx;  // EDX at the call
  uint32_t eax;  // filled by the call
  int32_t bytesRemoved;
  uint32_t clobbered;  // bit 0 EBX, bit 1 ESI, bit 2 EDI changed
  uint32_t misalign;   // ESP at the call is this far below a 16-byte boundary
};

extern "C" void CallGame(GameCall* call);

// One call in the game's member-function convention; expects the callee to
// remove `argBytes` (the argument count times 4 unless given) and to keep
// EBX, ESI and EDI. Returns EAX.
uint32_t CallMember(uint32_t function, const void* object, std::vector<uint32_t> args = {}, uint32_t edx = 0,
                    int32_t argBytes = -1);

// Places the game's routines, writes the settings file (none when `settings`
// is null) and loads the plug-in as the host does.
void StartGame(standin::Host& host, const char* settings);

std::vector<std::string> LogWithoutTimes();

// Every wait of the tests ends within this many milliseconds.
constexpr DWORD kWaitLimitMs = 5000;

bool WaitFor(HANDLE object, DWORD limitMs = kWaitLimitMs);
// Polls `condition` until it holds or `limitMs` passes.
bool Eventually(const std::function<bool()>& condition, DWORD limitMs = kWaitLimitMs);

// A Windows event, closed with its owner.
class Event {
 public:
  Event();
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  HANDLE handle() const { return handle_; }
  void Set() { SetEvent(handle_); }
  bool Wait(DWORD limitMs = kWaitLimitMs) { return WaitFor(handle_, limitMs); }

 private:
  HANDLE handle_;
};

// A thread running `work`. Joining is bounded: a thread still running at the
// limit (a hang) is ended, so a broken build fails instead of stalling.
class GameThread {
 public:
  explicit GameThread(std::function<void()> work);
  ~GameThread();
  GameThread(const GameThread&) = delete;
  GameThread& operator=(const GameThread&) = delete;
  bool Join(DWORD limitMs = kWaitLimitMs);
  DWORD id() const { return id_; }

 private:
  static DWORD WINAPI Run(void* self);
  std::function<void()> work_;
  HANDLE handle_ = nullptr;
  DWORD id_ = 0;
};

// True when the five bytes at `address` are a jump into the plug-in.
bool JumpsIntoPlugin(uint32_t address, HMODULE plugin);
