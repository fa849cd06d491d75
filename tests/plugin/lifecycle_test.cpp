#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <cstring>
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

const uintptr_t kMathAddresses[] = {kGameMatrixMultiply, kGameTransformMultiply, kGameBoxPlanesTest};

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
  auto multiply = reinterpret_cast<MatrixMultiply>(kGameMatrixMultiply);
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
  auto test = reinterpret_cast<BoxPlanesTest>(kGameBoxPlanesTest);
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

TEST(Lifecycle, DetachWithoutLoadRemovesNothing) {
  standin::PlaceGameMath();
  const std::vector<Bytes> before = MathBytes();
  Host host;
  ASSERT_TRUE(host.LoadPlugin());
  ASSERT_TRUE(host.Query());
  host.Unload();
  EXPECT_EQ(MathBytes(), before);
  std::vector<std::string> expected = {"Quelbrand", standin::kVersionLine, "INFO: Queue OK", "INFO: Detach"};
  EXPECT_EQ(LogWithoutTimes(), expected);
}

TEST(Lifecycle, LoadWithoutAcceptedQueryStillInstalls) {
  standin::PlaceGameMath();
  Host host;
  ASSERT_TRUE(host.LoadPlugin());
  EXPECT_FALSE(host.Query(standin::kRuntime1_9_32, true));
  EXPECT_TRUE(host.Load());
  for (uintptr_t address : kMathAddresses) EXPECT_EQ(BytesAt(address)[0], 0xE9) << std::hex << address;
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
