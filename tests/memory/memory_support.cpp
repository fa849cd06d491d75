#include "memory_support.h"

#include <cstring>

uint32_t CallMember(uint32_t function, const void* object, std::vector<uint32_t> args, uint32_t edx,
                    int32_t argBytes) {
  static uint32_t misalign;
  GameCall call = {};
  call.function = function;
  call.object = object;
  for (size_t i = 0; i < args.size() && i < 4; ++i) call.args[i] = args[i];
  call.argCount = static_cast<uint32_t>(args.size());
  call.edx = edx;
  // The game keeps only 4-byte alignment: successive calls rotate it.
  call.misalign = (misalign += 4) % 16;
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

bool WaitFor(HANDLE object, DWORD limitMs) { return WaitForSingleObject(object, limitMs) == WAIT_OBJECT_0; }

bool Eventually(const std::function<bool()>& condition, DWORD limitMs) {
  const DWORD start = GetTickCount();
  while (!condition()) {
    if (GetTickCount() - start > limitMs) return false;
    Sleep(1);
  }
  return true;
}

Event::Event() : handle_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
Event::~Event() { CloseHandle(handle_); }

GameThread::GameThread(std::function<void()> work) : work_(std::move(work)) {
  handle_ = CreateThread(nullptr, 0, Run, this, 0, &id_);
}

GameThread::~GameThread() {
  Join();
  CloseHandle(handle_);
}

bool GameThread::Join(DWORD limitMs) {
  if (WaitFor(handle_, limitMs)) return true;
  TerminateThread(handle_, 1);
  WaitFor(handle_, limitMs);
  return false;
}

DWORD WINAPI GameThread::Run(void* self) {
  static_cast<GameThread*>(self)->work_();
  return 0;
}

bool JumpsIntoPlugin(uint32_t address, HMODULE plugin) {
  const auto* at = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(address));
  if (at[0] != 0xE9) return false;
  int32_t displacement;
  std::memcpy(&displacement, at + 1, 4);
  const uintptr_t to = address + 5 + static_cast<uintptr_t>(displacement);
  const auto base = reinterpret_cast<uintptr_t>(plugin);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + static_cast<uintptr_t>(dos->e_lfanew));
  return to >= base && to < base + nt->OptionalHeader.SizeOfImage;
}
