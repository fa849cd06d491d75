#include "memory_support.h"

#include <cstring>

#include "standin/game_call.h"

uint32_t CallMember(uint32_t function, const void* object, std::vector<uint32_t> args, uint32_t edx,
                    int32_t argBytes) {
  static volatile LONG calls;
  GameCall call = {function, object, {}, static_cast<uint32_t>(args.size()), edx, 0, 0, 0, 0};
  std::memcpy(call.args, args.data(), 4 * std::min<size_t>(args.size(), 4));
  call.misalign = static_cast<uint32_t>(4 * (InterlockedIncrement(&calls) % 4));
  CallGame(&call);
  EXPECT_EQ(call.bytesRemoved, argBytes >= 0 ? argBytes : static_cast<int32_t>(4 * args.size()))
      << std::hex << function;
  EXPECT_EQ(call.clobbered, 0u) << std::hex << function;
  return call.eax;
}

void StartGame(standin::Host& host, const char* settings) {
  standin::PlaceGameMemory();
  if (settings != nullptr) standin::WriteSettings(settings);
  ASSERT_TRUE(host.LoadPlugin());
  ASSERT_TRUE(host.Query());
  ASSERT_TRUE(host.Load());
}

std::vector<std::string> LogWithoutTimes() {
  std::vector<std::string> lines;
  for (const auto& line : standin::ReadLogLines()) lines.push_back(standin::WithoutTime(line));
  return lines;
}

void EnterLock(GameLock& lock) { CallMember(game::kSpinLockEnter, &lock, {0}); }
void LeaveLock(GameLock& lock) { CallMember(standin::kGameSpinLockLeave, &lock); }

bool Eventually(const std::function<bool()>& condition, DWORD limitMs) {
  const DWORD start = GetTickCount();
  while (!condition()) {
    if (GetTickCount() - start > limitMs) return false;
    Sleep(1);
  }
  return true;
}

GameThread::GameThread(std::function<void()> work) : work_(std::move(work)) {
  handle_ = CreateThread(nullptr, 0, Run, this, 0, &id_);
}

DWORD WINAPI GameThread::Run(void* self) {
  static_cast<GameThread*>(self)->work_();
  return 0;
}

GameThread::~GameThread() {
  Join();
  CloseHandle(handle_);
}

bool GameThread::Join() {
  if (WaitForSingleObject(handle_, kWaitLimitMs) == WAIT_OBJECT_0) return true;
  TerminateThread(handle_, 1);
  WaitForSingleObject(handle_, kWaitLimitMs);
  return false;
}

void Crowd::Visit() {
  const LONG now = InterlockedIncrement(&inside);
  if (now > most) most = now;
  for (int i = 0; i < 20; ++i) SwitchToThread();
  InterlockedDecrement(&inside);
}

void OnTwoThreads(const std::function<void(int thread)>& call) {
  auto loop = [&](int thread) {
    for (int i = 0; i < 50; ++i) call(thread);
  };
  GameThread first([&] { loop(0); }), second([&] { loop(1); });
  EXPECT_TRUE(first.Join());
  EXPECT_TRUE(second.Join());
}
