// The texture hooks through the real plug-in in the stand-in game: after
// SKSEPlugin_Load the D3DX functions, called as the game calls them, build
// DDS textures directly, with the same result D3DX gives where D3DX can; the
// inserted sleep keeps the game routine whole; "FasterLoading=0" leaves D3DX
// alone but still inserts the sleep.

#include <d3dx9tex.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "d3d_support.h"
#include "dds_builder.h"
#include "standin/game_sleep.h"
#include "standin/standin.h"
#include "textures/expand_rgb.h"

namespace {

using CreateFunction = HRESULT(WINAPI*)(IDirect3DDevice9*, LPCVOID, UINT, IDirect3DTexture9**);
using CreateExFunction = HRESULT(WINAPI*)(IDirect3DDevice9*, LPCVOID, UINT, UINT, UINT, UINT, DWORD,
                                          D3DFORMAT, D3DPOOL, DWORD, DWORD, D3DCOLOR, D3DXIMAGE_INFO*,
                                          PALETTEENTRY*, IDirect3DTexture9**);
using Bytes = std::array<uint8_t, 16>;

constexpr UINT kDefault = D3DX_DEFAULT;
constexpr auto kUntouchedResourceType = static_cast<D3DRESOURCETYPE>(0x7777);

// The exports as the game finds them: redirected once the plug-in is loaded.
template <typename Function>
Function Export(const char* library, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(LoadLibraryA(library), name)));
}

CreateFunction D3dxCreate() {
  return Export<CreateFunction>("d3dx9_42.dll", "D3DXCreateTextureFromFileInMemory");
}

CreateExFunction D3dxCreateEx() {
  return Export<CreateExFunction>("d3dx9_43.dll", "D3DXCreateTextureFromFileInMemoryEx");
}

Bytes BytesAt(const void* address) {
  Bytes bytes;
  std::memcpy(bytes.data(), address, bytes.size());
  return bytes;
}

std::vector<std::string> LogWithoutTimes() {
  std::vector<std::string> lines;
  for (const auto& line : standin::ReadLogLines()) lines.push_back(standin::WithoutTime(line));
  return lines;
}

// Where a relative jump at `address` leads.
uintptr_t JumpTarget(uintptr_t address) {
  int32_t displacement;
  std::memcpy(&displacement, reinterpret_cast<const void*>(address + 1), 4);
  return address + 5 + static_cast<uintptr_t>(displacement);
}

bool InsideModule(HMODULE module, uintptr_t address) {
  auto base = reinterpret_cast<uintptr_t>(module);
  auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
  return address >= base && address < base + nt->OptionalHeader.SizeOfImage;
}

// A texture's description and bytes, to compare what two calls made.
struct Made {
  HRESULT result = E_FAIL;
  D3DFORMAT format = D3DFMT_UNKNOWN;
  D3DPOOL pool = D3DPOOL_SCRATCH;
  DWORD usage = 0;
  UINT width = 0, height = 0, levels = 0;
  std::vector<std::vector<uint8_t>> levelBytes;  // lockable levels, or level 0 as rendered
  bool operator==(const Made& o) const {
    return result == o.result && format == o.format && pool == o.pool && usage == o.usage &&
           width == o.width && height == o.height && levels == o.levels && levelBytes == o.levelBytes;
  }
};

void PrintTo(const Made& m, std::ostream* os) {
  *os << "result " << std::hex << m.result << std::dec << " format " << m.format << " pool " << m.pool
      << " usage " << m.usage << " " << m.width << "x" << m.height << " levels " << m.levels;
}

// Describes and releases the texture a call made.
Made Describe(HRESULT result, IDirect3DTexture9* texture) {
  Made made;
  made.result = result;
  if (result != S_OK) return made;
  const D3DSURFACE_DESC desc = LevelDesc(texture, 0);
  made = {result, desc.Format, desc.Pool, desc.Usage, desc.Width, desc.Height, texture->GetLevelCount(), {}};
  if (desc.Pool == D3DPOOL_DEFAULT) {
    made.levelBytes.push_back(RenderedLevel(texture, 0));
  } else {
    for (UINT level = 0; level < made.levels; ++level) made.levelBytes.push_back(LevelBytes(texture, level));
  }
  texture->Release();
  return made;
}

Made FromFile(const DdsLayout& layout, const std::vector<uint8_t>& file, D3DPOOL pool) {
  Made made;
  made.result = S_OK;
  made.format = static_cast<D3DFORMAT>(FormatFromPixelFormat(layout.pixelFormat));
  made.pool = pool;
  made.width = layout.width;
  made.height = layout.height;
  made.levels = StoredLevelCount(DdsHeader{0, 0, 0, 0, 0, 0, layout.mipMapCount, {}, {}, 0, 0, 0, 0, 0});
  for (UINT level = 0; level < made.levels; ++level) {
    const LevelSpan span = LevelOf(layout, level);
    made.levelBytes.emplace_back(file.begin() + static_cast<ptrdiff_t>(span.offset),
                                 file.begin() + static_cast<ptrdiff_t>(span.offset + span.size.bytes));
  }
  return made;
}

struct ExCall {
  UINT width = kDefault, height = kDefault, mipLevels = kDefault;
  DWORD usage = 0;
  D3DFORMAT format = D3DFMT_UNKNOWN;
  D3DPOOL pool = D3DPOOL_MANAGED;
  PALETTEENTRY* palette = nullptr;
};

// Calls the Ex function as the game does; `info` tells who answered: the
// direct path leaves its ResourceType alone, D3DX writes it.
Made CallEx(const std::vector<uint8_t>& file, const ExCall& c, D3DXIMAGE_INFO* info = nullptr) {
  IDirect3DTexture9* texture = nullptr;
  const HRESULT hr = D3dxCreateEx()(TestDevice(), file.data(), static_cast<UINT>(file.size()), c.width,
                                    c.height, c.mipLevels, c.usage, c.format, c.pool, kDefault, kDefault, 0,
                                    info, c.palette, &texture);
  return Describe(hr, texture);
}

Made Call(const std::vector<uint8_t>& file, int* preLoads = nullptr) {
  IDirect3DTexture9* texture = nullptr;
  const HRESULT hr = D3dxCreate()(TestDevice(), file.data(), static_cast<UINT>(file.size()), &texture);
  if (preLoads != nullptr && hr == S_OK) *preLoads = PreLoadCalls(texture);
  return Describe(hr, texture);
}

class TextureHooks : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(TestDevice(), nullptr) << "no Direct3D device";
    ASSERT_NE(D3dxCreate(), nullptr);
    ASSERT_NE(D3dxCreateEx(), nullptr);
    standin::PlaceGameSleepRoutine();
    standin::GameGlobal<int>(standin::kGameSleepValue) = 1000;
  }
  bool Load() { return host_.LoadPlugin() && host_.Query() && host_.Load(); }
  standin::Host host_;
};

TEST_F(TextureHooks, LoadRedirectsBothFunctionsInsertsTheSleepAndDetachRestoresD3DX) {
  const Bytes plain = BytesAt(reinterpret_cast<const void*>(D3dxCreate()));
  const Bytes ex = BytesAt(reinterpret_cast<const void*>(D3dxCreateEx()));
  ASSERT_TRUE(Load());
  EXPECT_EQ(BytesAt(reinterpret_cast<const void*>(D3dxCreate()))[0], 0xE9);
  EXPECT_EQ(BytesAt(reinterpret_cast<const void*>(D3dxCreateEx()))[0], 0xE9);
  EXPECT_EQ(*reinterpret_cast<const uint8_t*>(standin::kGameSleepLoad), 0xE9);
  EXPECT_TRUE(InsideModule(host_.module(), JumpTarget(standin::kGameSleepLoad)));
  const std::vector<std::string> log = LogWithoutTimes();
  const std::vector<std::string> tail(log.end() - 3, log.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"INFO: Hooked D3DX9_42.dll D3DXCreateTextureFromFileInMemory",
                                            "INFO: Hooked D3DX9_43.dll D3DXCreateTextureFromFileInMemoryEx",
                                            "INFO: SKSEPlugin_Load"}));

  host_.Unload();
  EXPECT_EQ(BytesAt(reinterpret_cast<const void*>(D3dxCreate())), plain);
  EXPECT_EQ(BytesAt(reinterpret_cast<const void*>(D3dxCreateEx())), ex);
  EXPECT_EQ(*reinterpret_cast<const uint8_t*>(standin::kGameSleepLoad), 0xE9);
}

// A large texture has its levels copied on helper threads, which stay a
// while for the next load. Unloading the plug-in then takes effect once they
// have ended: no helper ever runs in an unloaded module.
TEST_F(TextureHooks, UnloadTakesEffectOnceTheCopyHelpersHaveEnded) {
  const Bytes ex = BytesAt(reinterpret_cast<const void*>(D3dxCreateEx()));
  const DdsLayout layout = {A8R8G8B8PixelFormat(), 1024, 1024, 11};
  const std::vector<uint8_t> file = MakeDds(layout);
  ASSERT_TRUE(Load());
  EXPECT_EQ(CallEx(file, {}), FromFile(layout, file, D3DPOOL_MANAGED));
  host_.Unload();
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  if (system.dwNumberOfProcessors > 1) {
    EXPECT_NE(GetModuleHandleA("Quelbrand.dll"), nullptr) << "no helper holds the module";
  }
  const ULONGLONG deadline = GetTickCount64() + 10000;
  while (GetModuleHandleA("Quelbrand.dll") != nullptr && GetTickCount64() < deadline) Sleep(20);
  EXPECT_EQ(GetModuleHandleA("Quelbrand.dll"), nullptr);
  EXPECT_EQ(BytesAt(reinterpret_cast<const void*>(D3dxCreateEx())), ex);
  const std::vector<std::string> log = LogWithoutTimes();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "INFO: Detach");
}

TEST_F(TextureHooks, FasterLoadingOffLeavesD3DXButStillInsertsTheSleep) {
  standin::WriteSettings("[Optimize]\r\nFasterLoading=0\r\n");
  const Bytes plain = BytesAt(reinterpret_cast<const void*>(D3dxCreate()));
  const Bytes ex = BytesAt(reinterpret_cast<const void*>(D3dxCreateEx()));
  ASSERT_TRUE(Load());
  EXPECT_EQ(BytesAt(reinterpret_cast<const void*>(D3dxCreate())), plain);
  EXPECT_EQ(BytesAt(reinterpret_cast<const void*>(D3dxCreateEx())), ex);
  EXPECT_EQ(*reinterpret_cast<const uint8_t*>(standin::kGameSleepLoad), 0xE9);
  EXPECT_TRUE(InsideModule(host_.module(), JumpTarget(standin::kGameSleepLoad)));
  for (const std::string& line : LogWithoutTimes()) EXPECT_EQ(line.find("Hooked"), std::string::npos) << line;
}

TEST_F(TextureHooks, InsertedSleepWaitsAndKeepsTheGameRoutineWhole) {
  using Routine = int(__cdecl*)(int);
  auto routine = reinterpret_cast<Routine>(standin::kGameSleepRoutine);
  ASSERT_EQ(routine(5), 1000 + standin::kGameSleepIntact);
  ASSERT_TRUE(Load());
  standin::GameGlobal<int>(standin::kGameSleepValue) = 2000;
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(routine(7), 2000 + standin::kGameSleepIntact);
  // 25 ms, less the tick counter's granularity.
  EXPECT_GE(GetTickCount64() - start, 15u);
}

TEST_F(TextureHooks, ExCallsBuildTheFilesOwnTextureAsD3DXDoes) {
  const DdsLayout layouts[] = {
      {Dxt1PixelFormat(), 256, 256, 9},
      {Dxt5PixelFormat(), 128, 64, 8},
      {A8R8G8B8PixelFormat(), 64, 64, 7},
      {X8R8G8B8PixelFormat(), 1, 1, 0},
  };
  std::vector<std::vector<uint8_t>> files;
  std::vector<Made> byD3dx, byD3dxDefault;
  for (const DdsLayout& layout : layouts) {
    files.push_back(MakeDds(layout));
    byD3dx.push_back(CallEx(files.back(), {}));
    ExCall placed;
    placed.pool = D3DPOOL_DEFAULT;
    byD3dxDefault.push_back(CallEx(files.back(), placed));
  }
  ASSERT_TRUE(Load());
  WatchTextureCreation();
  for (size_t i = 0; i < files.size(); ++i) {
    const DdsLayout& layout = layouts[i];
    for (D3DFORMAT format :
         {D3DFMT_UNKNOWN, static_cast<D3DFORMAT>(FormatFromPixelFormat(layout.pixelFormat))}) {
      D3DXIMAGE_INFO info = {};
      info.ResourceType = kUntouchedResourceType;
      ExCall call;
      call.format = format;
      IDirect3DTexture9* texture = nullptr;
      ASSERT_EQ(D3dxCreateEx()(TestDevice(), files[i].data(), static_cast<UINT>(files[i].size()), kDefault,
                               kDefault, kDefault, 0, format, D3DPOOL_MANAGED, kDefault, kDefault, 0, &info,
                               nullptr, &texture),
                S_OK);
      EXPECT_EQ(info.ResourceType, kUntouchedResourceType) << "D3DX served file " << i;
      EXPECT_EQ(info.MipLevels, layout.mipMapCount);
      EXPECT_EQ(PreLoadCalls(texture), 1);
      const Made made = Describe(S_OK, texture);
      EXPECT_EQ(made, FromFile(layout, files[i], D3DPOOL_MANAGED)) << "file " << i;
      EXPECT_EQ(made, byD3dx[i]) << "file " << i;
    }
    D3DXIMAGE_INFO info = {};
    info.ResourceType = kUntouchedResourceType;
    ExCall placed;
    placed.pool = D3DPOOL_DEFAULT;
    EXPECT_EQ(CallEx(files[i], placed, &info), byD3dxDefault[i]) << "file " << i;
    EXPECT_EQ(info.ResourceType, kUntouchedResourceType) << "D3DX served file " << i;
  }
}

TEST_F(TextureHooks, TwentyFourBitFilesAreWidenedByBothFunctions) {
  const DdsLayout layout = {R8G8B8PixelFormat(), 64, 32, 7};
  const std::vector<uint8_t> file = MakeDds(layout);
  std::vector<uint8_t> widened(64 * 32 * 4);
  ExpandRgbRowSse2(widened.data(), file.data() + 128, 64 * 32);
  ASSERT_TRUE(Load());
  WatchTextureCreation();
  int preLoads = 0;
  const Made plain = Call(file, &preLoads);
  EXPECT_EQ(preLoads, 1);
  D3DXIMAGE_INFO info = {};
  info.ResourceType = kUntouchedResourceType;
  const Made ex = CallEx(file, {}, &info);
  EXPECT_EQ(info.ResourceType, kUntouchedResourceType);
  EXPECT_EQ(info.Format, D3DFMT_R8G8B8);
  for (const Made& made : {plain, ex}) {
    ASSERT_EQ(made.result, S_OK);
    EXPECT_EQ(made.format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(made.usage, static_cast<DWORD>(D3DUSAGE_AUTOGENMIPMAP));
    ASSERT_FALSE(made.levelBytes.empty());
    EXPECT_EQ(made.levelBytes[0], widened);
  }
}

TEST_F(TextureHooks, RefusedCallsGetWhatD3DXGivesForThem) {
  const std::vector<uint8_t> chain = MakeDds({Dxt1PixelFormat(), 64, 64, 7});
  const std::vector<uint8_t> oneLevel = MakeDds({Dxt1PixelFormat(), 64, 64, 1});
  const std::vector<uint8_t> argbOneLevel = MakeDds({A8R8G8B8PixelFormat(), 32, 32, 1});
  std::vector<uint8_t> cube = MakeDds({A8R8G8B8PixelFormat(), 8, 8, 1, 0xFE00});
  const std::vector<uint8_t> face(cube.begin() + 128, cube.end());
  for (int i = 0; i < 5; ++i) cube.insert(cube.end(), face.begin(), face.end());
  const std::vector<uint8_t> notAnImage(300, 0x42);

  struct Case {
    const char* what;
    const std::vector<uint8_t>* file;
    ExCall call;
  };
  std::vector<Case> cases = {{"dynamic usage", &chain, {}},       {"system memory", &chain, {}},
                             {"explicit size", &chain, {}},       {"one level", &chain, {}},
                             {"other format", &chain, {}},        {"partial chain", &oneLevel, {}},
                             {"partial ARGB", &argbOneLevel, {}}, {"cube map", &cube, {}}};
  cases[0].call.usage = D3DUSAGE_DYNAMIC;
  cases[0].call.pool = D3DPOOL_DEFAULT;
  cases[1].call.pool = D3DPOOL_SYSTEMMEM;
  cases[2].call.width = 32;
  cases[2].call.height = 16;
  cases[3].call.mipLevels = 1;
  cases[4].call.format = D3DFMT_A8R8G8B8;
  cases[5].call.format = D3DFMT_UNKNOWN;
  // Before the plug-in: D3DX's own answers, as the game would get them.
  std::vector<Made> expected;
  for (const Case& c : cases) expected.push_back(CallEx(*c.file, c.call));
  // The compressed file D3DX cannot take directly is asked for as 32-bit ARGB.
  ExCall argb;
  argb.format = D3DFMT_A8R8G8B8;
  expected[5] = CallEx(oneLevel, argb);
  const Made plainOneLevel = CallEx(oneLevel, argb);
  const Made plainCube = Call(cube);
  const Made plainNotAnImage = Call(notAnImage);

  ASSERT_TRUE(Load());
  WatchTextureCreation();
  for (size_t i = 0; i < cases.size(); ++i) {
    D3DXIMAGE_INFO info = {};
    info.ResourceType = kUntouchedResourceType;
    EXPECT_EQ(CallEx(*cases[i].file, cases[i].call, &info), expected[i]) << cases[i].what;
    EXPECT_NE(info.ResourceType, kUntouchedResourceType) << cases[i].what << ": not handed to D3DX";
  }
  EXPECT_EQ(expected[5].format, D3DFMT_A8R8G8B8);
  int preLoads = -1;
  EXPECT_EQ(Call(oneLevel, &preLoads), plainOneLevel);
  EXPECT_EQ(preLoads, 1);
  preLoads = -1;
  EXPECT_EQ(Call(cube, &preLoads), plainCube);
  if (plainCube.result == S_OK) {
    EXPECT_EQ(preLoads, 0) << "PreLoad after D3DX's own answer";
  }
  EXPECT_EQ(Call(notAnImage), plainNotAnImage);
  EXPECT_NE(plainNotAnImage.result, S_OK);
}

TEST_F(TextureHooks, ExCallFailingEverywhereLogsTwoWarningsAndReturnsTheLastCode) {
  const std::vector<uint8_t> notAnImage(300, 0x42);
  const Made byD3dx = CallEx(notAnImage, {});  // what the default-size retry gets
  ASSERT_NE(byD3dx.result, S_OK);
  ASSERT_TRUE(Load());
  const size_t before = LogWithoutTimes().size();
  IDirect3DTexture9* texture = nullptr;
  EXPECT_EQ(D3dxCreateEx()(TestDevice(), notAnImage.data(), static_cast<UINT>(notAnImage.size()), 7, kDefault,
                           kDefault, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, 1, 2, 0, nullptr, nullptr, &texture),
            byD3dx.result);
  EXPECT_EQ(texture, nullptr);
  const std::vector<std::string> log = LogWithoutTimes();
  char code[64];
  std::snprintf(code, sizeof code, "WARNING: Create texture failed !! %08x",
                static_cast<unsigned>(byD3dx.result));
  EXPECT_EQ(
      std::vector<std::string>(log.begin() + static_cast<ptrdiff_t>(before), log.end()),
      (std::vector<std::string>{code, "WARNING: \t7x-1 -1 fmt:0 pool : 1, usage 0, filter 1, MipFilter 2"}));
}

}  // namespace
