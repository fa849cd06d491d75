#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "plugin/patch_sites.h"
#include "standin/game_math.h"
#include "standin/standin.h"

namespace {

using standin::Host;

using Bytes = std::array<uint8_t, 16>;
// The game's member-function convention, on free-function pointer types.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes"
using MatrixMultiply = float*(__thiscall*)(const float* a, float* result, const float* b);
using BoxPlanesTest = bool(__thiscall*)(const float* box, const void* planes);
#pragma GCC diagnostic pop

const uintptr_t kMathAddresses[] = {game::kMatrixMultiply, game::kTransformMultiply, game::kBoxPlanesTest};

Bytes BytesAt(uintptr_t address) {
  Bytes bytes;
  std::memcpy(bytes.data(), reinterpret_cast<const void*>(address), bytes.size());
  return bytes;
}

std::vector<Bytes> MathBytes() {
  std::vector<Bytes> all;
  for (uintptr_t address : kMathAddresses) all.push_back(BytesAt(address));
  return all;
}

std::vector<std::string> LogWithoutTimes() {
  std::vector<std::string> lines;
  for (const auto& line : standin::ReadLogLines()) lines.push_back(standin::WithoutTime(line));
  return lines;
}

std::array<float, 9> MultiplyThroughGame(const float* a, const float* b) {
  std::array<float, 9> result;
  auto multiply = reinterpret_cast<MatrixMultiply>(game::kMatrixMultiply);
  EXPECT_EQ(multiply(a, result.data(), b), result.data());
  return result;
}

TEST(Lifecycle, LoadRedirectsMathAndDetachPutsTheGameBack) {
  standin::PlaceGameMath();
  const std::vector<Bytes> before = MathBytes();
  const float a[9] = {1.5f, -2.0f, 0.25f, 3.0f, 0.1f, -7.0f, 2.5f, 8.0f, -0.3f};
  const float b[9] = {0.2f, 4.0f, -1.0f, 6.0f, -0.5f, 1.25f, -3.0f, 0.7f, 9.0f};
  const std::array<float, 9> scalar = MultiplyThroughGame(a, b);

  Host host;
  ASSERT_TRUE(host.LoadPlugin());
  ASSERT_TRUE(host.Query());
  ASSERT_TRUE(host.Load());
  for (uintptr_t address : kMathAddresses) EXPECT_EQ(BytesAt(address)[0], 0xE9) << std::hex << address;
  EXPECT_EQ(std::memcmp(MultiplyThroughGame(a, b).data(), scalar.data(), sizeof scalar), 0);

  // A box at the origin with half-size 1, against the plane x >= 5: outside.
  alignas(16) float box[12] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 0};
  struct {
    float planes[6][4];
    uint32_t mask;
  } planes = {{{1, 0, 0, 5}}, 1};
  auto test = reinterpret_cast<BoxPlanesTest>(game::kBoxPlanesTest);
  EXPECT_FALSE(test(box, &planes));
  planes.mask = 0;
  EXPECT_TRUE(test(box, &planes));

  host.Unload();
  EXPECT_EQ(MathBytes(), before);
  EXPECT_EQ(std::memcmp(MultiplyThroughGame(a, b).data(), scalar.data(), sizeof scalar), 0);
  std::vector<std::string> expected = {"Quelbrand",
                                       standin::kVersionLine,
                                       "INFO: Queue OK",
                                       "INFO: Memory Hooked",
                                       "INFO: Hooked D3DX9_42.dll D3DXCreateTextureFromFileInMemory",
                                       "INFO: Hooked D3DX9_43.dll D3DXCreateTextureFromFileInMemoryEx",
                                       "INFO: SKSEPlugin_Load",
                                       "INFO: Detach"};
  EXPECT_EQ(LogWithoutTimes(), expected);
}

// The first bytes of every D3DX function the plug-in may redirect.
std::vector<Bytes> D3dxBytes() {
  const char* const functions[][2] = {{"d3dx9_43.dll", "D3DXCreateEffect"},
                                      {"d3dx9_43.dll", "D3DXCreateEffectFromFileA"},
                                      {"d3dx9_42.dll", "D3DXCreateTextureFromFileInMemory"},
                                      {"d3dx9_43.dll", "D3DXCreateTextureFromFileInMemoryEx"}};
  std::vector<Bytes> all;
  for (const auto& function : functions) {
    auto address = reinterpret_cast<uintptr_t>(GetProcAddress(LoadLibraryA(function[0]), function[1]));
    EXPECT_NE(address, 0u) << function[1];
    if (address != 0) all.push_back(BytesAt(address));
  }
  return all;
}

TEST(Lifecycle, DetachWithoutLoadRemovesExactlyWhatAttachInstalled) {
  standin::PlaceGameMath();
  standin::WriteSettings("[Optimize]\nUseShaderCache=1\n");
  const std::vector<Bytes> d3dx = D3dxBytes();
  const std::vector<Bytes> math = MathBytes();
  Host host;
  ASSERT_TRUE(host.LoadPlugin());
  ASSERT_NE(D3dxBytes(), d3dx) << "the effect hooks are in place";
  ASSERT_TRUE(host.Query());
  host.Unload();
  EXPECT_EQ(D3dxBytes(), d3dx);
  EXPECT_EQ(MathBytes(), math);
  const std::vector<std::string> log = LogWithoutTimes();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log.back(), "INFO: Detach");
  for (const std::string& line : log) EXPECT_NE(line.rfind("ERROR", 0), 0u) << line;
}

TEST(Lifecycle, FailedCommitIsLoggedAndInstallsNothing) {
  standin::PlaceGameMath();
  const uint8_t endsAtOnce[] = {0xC3, 0x55, 0x8B, 0xEC, 0x5D, 0xC3};
  standin::PlaceInGame(game::kSlotLookup, endsAtOnce, sizeof endsAtOnce);
  const std::vector<Bytes> math = MathBytes();
  Host host;
  ASSERT_TRUE(host.LoadPlugin());
  ASSERT_TRUE(host.Query());
  ASSERT_TRUE(host.Load());
  EXPECT_EQ(MathBytes(), math);
  const std::vector<std::string> log = LogWithoutTimes();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], "ERROR: SKSEPlugin_Load: patches not applied, error 9 at SlotLookupSite");
  EXPECT_EQ(log.back(), "INFO: SKSEPlugin_Load");
}

// Run with a German user locale (see the test's environment).
TEST(Lifecycle, LoadingLeavesTheProcessLocaleAlone) {
  standin::PlaceGameMath();
  const std::string locale = std::setlocale(LC_ALL, nullptr);
  Host host;
  ASSERT_TRUE(host.LoadPlugin());
  ASSERT_TRUE(host.Query());
  ASSERT_TRUE(host.Load());
  EXPECT_EQ(std::setlocale(LC_ALL, nullptr), locale);
  char number[16];
  _snprintf(number, sizeof number, "%.2f", 1.25);
  EXPECT_STREQ(number, "1.25");
  // The time stamp is the user's regional short date and time.
  const std::string line = standin::ReadLogLines().at(2);
  EXPECT_TRUE(std::regex_match(line, std::regex(R"(\[\d\d?\.\d\d?\.\d{4} \d\d?:\d\d:\d\d\]INFO: Queue OK)")))
      << line;
}

TEST(Lifecycle, LoadWithoutAcceptedQueryStillInstalls) {
  standin::PlaceGameMath();
  Host host;
  ASSERT_TRUE(host.LoadPlugin());
  EXPECT_FALSE(host.Query(standin::kRuntime1_9_32, true));
  EXPECT_TRUE(host.Load());
  for (uintptr_t address : kMathAddresses) EXPECT_EQ(BytesAt(address)[0], 0xE9) << std::hex << address;
}

// Unloading right after load ends the crash reporter thread; ending it before
// it ran its own code killed the process now and then.
TEST(Lifecycle, RepeatedLoadAndUnloadKeepsTheProcessAlive) {
  standin::PlaceGameMath();
  const std::vector<Bytes> math = MathBytes();
  for (int round = 0; round < 200; ++round) {
    Host host;
    ASSERT_TRUE(host.LoadPlugin()) << round;
    ASSERT_TRUE(host.Query()) << round;
    ASSERT_TRUE(host.Load()) << round;
    host.Unload();
    ASSERT_EQ(MathBytes(), math) << round;
  }
}

TEST(Lifecycle, ThreadReasonsChangeNothing) {
  standin::PlaceGameMath();
  Host host;
  ASSERT_TRUE(host.LoadPlugin());
  ASSERT_TRUE(host.Query());
  ASSERT_TRUE(host.Load());
  const std::vector<Bytes> installed = MathBytes();
  const std::vector<std::string> log = LogWithoutTimes();

  // The DLL's entry point, as the loader would call it.
  auto base = reinterpret_cast<const uint8_t*>(host.module());
  auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
  using Entry = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);
  auto entry =
      reinterpret_cast<Entry>(reinterpret_cast<uintptr_t>(base + nt->OptionalHeader.AddressOfEntryPoint));
  EXPECT_TRUE(entry(host.module(), DLL_THREAD_ATTACH, nullptr));
  EXPECT_TRUE(entry(host.module(), DLL_THREAD_DETACH, nullptr));
  EXPECT_TRUE(entry(host.module(), 7, nullptr));

  EXPECT_EQ(MathBytes(), installed);
  EXPECT_EQ(LogWithoutTimes(), log);
}

}  // namespace
