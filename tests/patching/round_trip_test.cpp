// Redirections of real compiled code: this program's own functions, kernel32
// exports and D3DX9_43 exports as Wine ships them.

#include <gtest/gtest.h>

#include "engine_support.h"
#include "patching/patching.h"

namespace {

using enginetest::AsTrampoline;
using enginetest::BytesAt;
using enginetest::JumpDestination;

constexpr size_t kCompared = 32;

// Attaches (or detaches) every pair in one transaction.
struct Redirection {
  PatchSite* site;
  void* hook;
};

LONG AttachAll(std::initializer_list<Redirection> all) {
  EXPECT_EQ(PatchBegin(), NO_ERROR);
  EXPECT_EQ(PatchUpdateThread(GetCurrentThread()), NO_ERROR);
  for (const Redirection& r : all) EXPECT_EQ(PatchAttach(r.site, r.hook), NO_ERROR);
  return PatchCommit();
}

LONG DetachAll(std::initializer_list<Redirection> all) {
  EXPECT_EQ(PatchBegin(), NO_ERROR);
  for (const Redirection& r : all) EXPECT_EQ(PatchDetach(r.site, r.hook), NO_ERROR);
  return PatchCommit();
}

// The trampoline runs the moved bytes unchanged (no relative branch among
// them here) and then jumps to the rest of the function.
void ExpectPlainTrampoline(PatchSite site, const void* target, const std::vector<uint8_t>& before,
                           size_t moved) {
  const Trampoline* t = AsTrampoline(site);
  ASSERT_EQ(t->restoreLength, moved);
  EXPECT_EQ(std::memcmp(t->code, before.data(), moved), 0);
  EXPECT_EQ(JumpDestination(t->code + moved), static_cast<const uint8_t*>(target) + moved);
  EXPECT_EQ(std::memcmp(t->restore, before.data(), moved), 0);
}

// --- this program's own functions ---

__attribute__((noinline, noipa)) int SumOfSquares(int n) {
  int sum = 0;
  for (int i = 1; i <= n; ++i) sum += i * i;
  return sum;
}

__attribute__((noinline, noipa)) const char* DayName(int day) {
  switch (day) {
    case 0:
      return "Sundas";
    case 1:
      return "Morndas";
    case 2:
      return "Tirdas";
    case 3:
      return "Middas";
    case 4:
      return "Turdas";
    default:
      return "?";
  }
}

__attribute__((noinline, noipa)) int CallsBoth(int n) { return SumOfSquares(n) + DayName(n)[0]; }

PatchSite sumSite;
PatchSite daySite;
int sumHookCalls;

int SumHook(int n) {
  ++sumHookCalls;
  return reinterpret_cast<int (*)(int)>(sumSite)(n) * 10;
}
const char* DayHook(int day) {
  return day == 1 ? "Loredas" : reinterpret_cast<const char* (*)(int)>(daySite)(day);
}

TEST(RoundTrip, OwnFunctions) {
  auto* sum = reinterpret_cast<uint8_t*>(SumOfSquares);
  auto* day = reinterpret_cast<uint8_t*>(DayName);
  std::vector<uint8_t> sumBefore = BytesAt(sum, kCompared);
  std::vector<uint8_t> dayBefore = BytesAt(day, kCompared);
  sumSite = sum;
  daySite = day;
  ASSERT_EQ(
      AttachAll({{&sumSite, reinterpret_cast<void*>(SumHook)}, {&daySite, reinterpret_cast<void*>(DayHook)}}),
      NO_ERROR);
  EXPECT_EQ(JumpDestination(sum), reinterpret_cast<void*>(SumHook));
  EXPECT_EQ(JumpDestination(day), reinterpret_cast<void*>(DayHook));

  // Direct calls from compiled code reach the replacements, which reach the
  // functions' own behaviour through their sites.
  EXPECT_EQ(CallsBoth(3), 140 + 'M');
  EXPECT_EQ(CallsBoth(1), 10 + 'L');
  EXPECT_EQ(sumHookCalls, 2);
  EXPECT_EQ(reinterpret_cast<int (*)(int)>(sumSite)(4), 30);
  EXPECT_STREQ(reinterpret_cast<const char* (*)(int)>(daySite)(1), "Morndas");
  EXPECT_STREQ(reinterpret_cast<const char* (*)(int)>(daySite)(7), "?");

  ASSERT_EQ(
      DetachAll({{&sumSite, reinterpret_cast<void*>(SumHook)}, {&daySite, reinterpret_cast<void*>(DayHook)}}),
      NO_ERROR);
  EXPECT_EQ(sumSite, sum);
  EXPECT_EQ(daySite, day);
  EXPECT_EQ(BytesAt(sum, kCompared), sumBefore);
  EXPECT_EQ(BytesAt(day, kCompared), dayBefore);
  EXPECT_EQ(CallsBoth(3), 14 + 'M');
  EXPECT_EQ(sumHookCalls, 2);
}

// --- kernel32 ---

using MulDivFn = int(WINAPI*)(int, int, int);
using FilterFn = LPTOP_LEVEL_EXCEPTION_FILTER(WINAPI*)(LPTOP_LEVEL_EXCEPTION_FILTER);
using TickFn = DWORD(WINAPI*)();

PatchSite mulDivSite;
PatchSite filterSite;
PatchSite tickSite;
LPTOP_LEVEL_EXCEPTION_FILTER filterSeen;
int tickCalls;

int WINAPI MulDivHook(int a, int b, int c) { return reinterpret_cast<MulDivFn>(mulDivSite)(a, b, c) + 1; }
LPTOP_LEVEL_EXCEPTION_FILTER WINAPI FilterHook(LPTOP_LEVEL_EXCEPTION_FILTER filter) {
  filterSeen = filter;
  return reinterpret_cast<FilterFn>(filterSite)(filter);
}
DWORD WINAPI TickHook() {
  ++tickCalls;
  return reinterpret_cast<TickFn>(tickSite)();
}
LONG WINAPI SomeFilter(EXCEPTION_POINTERS*) { return EXCEPTION_CONTINUE_SEARCH; }

TEST(RoundTrip, Kernel32Exports) {
  HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  auto* mulDiv = reinterpret_cast<uint8_t*>(GetProcAddress(kernel32, "MulDiv"));
  auto* filter = reinterpret_cast<uint8_t*>(GetProcAddress(kernel32, "SetUnhandledExceptionFilter"));
  auto* tick = reinterpret_cast<uint8_t*>(GetProcAddress(kernel32, "GetTickCount"));
  ASSERT_TRUE(mulDiv && filter && tick);
  // mov edi,edi; push ebp; mov ebp,esp: a hot-patchable prologue.
  ASSERT_EQ(BytesAt(filter, 5), (std::vector<uint8_t>{0x8B, 0xFF, 0x55, 0x8B, 0xEC}));
  std::vector<uint8_t> mulDivBefore = BytesAt(mulDiv, kCompared);
  std::vector<uint8_t> filterBefore = BytesAt(filter, kCompared);
  std::vector<uint8_t> tickBefore = BytesAt(tick, kCompared);
  mulDivSite = mulDiv;
  filterSite = filter;
  tickSite = tick;
  auto all = {Redirection{&mulDivSite, reinterpret_cast<void*>(MulDivHook)},
              Redirection{&filterSite, reinterpret_cast<void*>(FilterHook)},
              Redirection{&tickSite, reinterpret_cast<void*>(TickHook)}};
  ASSERT_EQ(AttachAll(all), NO_ERROR);

  // This program's calls go through its import table into kernel32.
  EXPECT_EQ(MulDiv(6, 7, 2), 22);
  EXPECT_EQ(reinterpret_cast<MulDivFn>(mulDivSite)(6, 7, 2), 21);
  LPTOP_LEVEL_EXCEPTION_FILTER previous = SetUnhandledExceptionFilter(SomeFilter);
  EXPECT_EQ(filterSeen, SomeFilter);
  EXPECT_EQ(SetUnhandledExceptionFilter(previous), SomeFilter);
  EXPECT_EQ(filterSeen, previous);
  DWORD now = GetTickCount();
  EXPECT_EQ(tickCalls, 1);
  EXPECT_LE(now, reinterpret_cast<TickFn>(tickSite)());
  ExpectPlainTrampoline(filterSite, filter, filterBefore, 5);

  ASSERT_EQ(DetachAll(all), NO_ERROR);
  EXPECT_EQ(BytesAt(mulDiv, kCompared), mulDivBefore);
  EXPECT_EQ(BytesAt(filter, kCompared), filterBefore);
  EXPECT_EQ(BytesAt(tick, kCompared), tickBefore);
  EXPECT_EQ(mulDivSite, mulDiv);
  EXPECT_EQ(filterSite, filter);
  EXPECT_EQ(tickSite, tick);
  EXPECT_EQ(MulDiv(6, 7, 2), 21);
  GetTickCount();
  EXPECT_EQ(tickCalls, 1);
}

// --- D3DX9_43 ---

using CreateTextureExFn = HRESULT(WINAPI*)(void* device, const void* data, UINT size, UINT width, UINT height,
                                           UINT levels, DWORD usage, DWORD format, DWORD pool, DWORD filter,
                                           DWORD mipFilter, DWORD colorKey, void* info, void* palette,
                                           void** texture);
using CreateEffectFn = HRESULT(WINAPI*)(void* device, const void* data, UINT size, const void* defines,
                                        void* include, DWORD flags, void* pool, void** effect, void** errors);

PatchSite textureSite;
PatchSite effectSite;
int textureCalls;
int effectCalls;
const void* textureData;

HRESULT WINAPI TextureHook(void* device, const void* data, UINT size, UINT width, UINT height, UINT levels,
                           DWORD usage, DWORD format, DWORD pool, DWORD filter, DWORD mipFilter,
                           DWORD colorKey, void* info, void* palette, void** texture) {
  ++textureCalls;
  textureData = data;
  return reinterpret_cast<CreateTextureExFn>(textureSite)(device, data, size, width, height, levels, usage,
                                                          format, pool, filter, mipFilter, colorKey, info,
                                                          palette, texture);
}

HRESULT WINAPI EffectHook(void* device, const void* data, UINT size, const void* defines, void* include,
                          DWORD flags, void* pool, void** effect, void** errors) {
  ++effectCalls;
  return reinterpret_cast<CreateEffectFn>(effectSite)(device, data, size, defines, include, flags, pool,
                                                      effect, errors);
}

HRESULT CallTexture(void* function, const void* data) {
  void* texture = nullptr;
  return reinterpret_cast<CreateTextureExFn>(function)(nullptr, data, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, nullptr,
                                                       nullptr, &texture);
}

HRESULT CallEffect(void* function) {
  void* effect = nullptr;
  void* errors = nullptr;
  return reinterpret_cast<CreateEffectFn>(function)(nullptr, "x", 1, nullptr, nullptr, 0, nullptr, &effect,
                                                    &errors);
}

TEST(RoundTrip, D3dx9StackRealigningExports) {
  HMODULE d3dx = LoadLibraryA("d3dx9_43.dll");
  ASSERT_NE(d3dx, nullptr);
  auto* texture = reinterpret_cast<uint8_t*>(GetProcAddress(d3dx, "D3DXCreateTextureFromFileInMemoryEx"));
  auto* effect = reinterpret_cast<uint8_t*>(GetProcAddress(d3dx, "D3DXCreateEffect"));
  ASSERT_TRUE(texture && effect);
  const std::vector<uint8_t> realign = {0x8D, 0x4C, 0x24, 0x04, 0x83, 0xE4, 0xF0,
                                        0xFF, 0x71, 0xFC, 0x55, 0x89, 0xE5};
  ASSERT_EQ(BytesAt(texture, realign.size()), realign);
  ASSERT_EQ(BytesAt(effect, realign.size()), realign);
  std::vector<uint8_t> textureBefore = BytesAt(texture, kCompared);
  std::vector<uint8_t> effectBefore = BytesAt(effect, kCompared);
  // Without a device both refuse; the refusal is the behaviour to keep.
  HRESULT textureResult = CallTexture(texture, "DDS ");
  HRESULT effectResult = CallEffect(effect);
  EXPECT_LT(textureResult, 0);
  EXPECT_LT(effectResult, 0);

  textureSite = texture;
  effectSite = effect;
  auto all = {Redirection{&textureSite, reinterpret_cast<void*>(TextureHook)},
              Redirection{&effectSite, reinterpret_cast<void*>(EffectHook)}};
  ASSERT_EQ(AttachAll(all), NO_ERROR);
  ExpectPlainTrampoline(textureSite, texture, textureBefore, 7);
  ExpectPlainTrampoline(effectSite, effect, effectBefore, 7);

  EXPECT_EQ(CallTexture(texture, "DDS "), textureResult);
  EXPECT_EQ(CallEffect(effect), effectResult);
  EXPECT_EQ(textureCalls, 1);
  EXPECT_EQ(effectCalls, 1);
  EXPECT_STREQ(static_cast<const char*>(textureData), "DDS ");

  ASSERT_EQ(DetachAll(all), NO_ERROR);
  EXPECT_EQ(BytesAt(texture, kCompared), textureBefore);
  EXPECT_EQ(BytesAt(effect, kCompared), effectBefore);
  EXPECT_EQ(textureSite, texture);
  EXPECT_EQ(effectSite, effect);
  EXPECT_EQ(CallTexture(texture, "DDS "), textureResult);
  EXPECT_EQ(CallEffect(effect), effectResult);
  EXPECT_EQ(textureCalls, 1);
  EXPECT_EQ(effectCalls, 1);
}

}  // namespace
