// The texture hooks through the real plug-in in the stand-in game: after
// SKSEPlugin_Load the D3DX functions, called as the game calls them, build
// DDS textures directly, as D3DX builds them where it can; refusals get
// D3DX's own answer; the inserted sleep keeps the game routine whole;
// "FasterLoading=0" leaves D3DX alone but still inserts the sleep.

#include <d3dx9tex.h>
#include <gtest/gtest.h>
#include <windows.h>

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

// What a call gave: result, description and bytes (lockable levels, or level
// 0 as drawn for the default pool).
struct Made {
  HRESULT result = E_FAIL;
  D3DFORMAT format = D3DFMT_UNKNOWN;
  D3DPOOL pool = D3DPOOL_SCRATCH;
  DWORD usage = 0;
  UINT width = 0, height = 0, levels = 0;
  std::vector<std::vector<uint8_t>> bytes;
  auto Tie() const { return std::tie(result, format, pool, usage, width, height, levels, bytes); }
  bool operator==(const Made& o) const { return Tie() == o.Tie(); }
  bool operator!=(const Made& o) const { return !(*this == o); }
};

void PrintTo(const Made& m, std::ostream* os) {
  *os << "result " << std::hex << m.result << std::dec << " format " << m.format << " pool " << m.pool
      << " usage " << m.usage << " " << m.width << "x" << m.height << " levels " << m.levels;
}

// Describes and releases what a call made.
Made Describe(HRESULT result, IDirect3DTexture9* texture) {
  Made made;
  made.result = result;
  if (result != S_OK) return made;
  const D3DSURFACE_DESC desc = LevelDesc(texture, 0);
  made = {result, desc.Format, desc.Pool, desc.Usage, desc.Width, desc.Height, texture->GetLevelCount(), {}};
  for (UINT level = 0; level < made.levels; ++level) {
    if (desc.Pool == D3DPOOL_DEFAULT) {
      made.bytes.push_back(RenderedLevel(texture, 0));
      break;
    }
    made.bytes.push_back(LevelBytes(texture, level));
  }
  texture->Release();
  return made;
}

Made FromFile(const DdsLayout& layout, const std::vector<uint8_t>& file) {
  Made made = {S_OK,
               static_cast<D3DFORMAT>(FormatFromPixelFormat(layout.pixelFormat)),
               D3DPOOL_MANAGED,
               0,
               layout.width,
               layout.height,
               layout.mipMapCount,
               {}};
  for (UINT level = 0; level < layout.mipMapCount; ++level) {
    const LevelSpan span = LevelOf(layout, level);
    made.bytes.emplace_back(file.begin() + static_cast<ptrdiff_t>(span.offset),
                            file.begin() + static_cast<ptrdiff_t>(span.offset + span.size.bytes));
  }
  return made;
}

struct ExArgs {
  UINT width = kDefault, height = kDefault;
  D3DFORMAT format = D3DFMT_UNKNOWN;
  D3DPOOL pool = D3DPOOL_MANAGED;
  DWORD mipFilter = kDefault;
  D3DCOLOR colorKey = 0;
};

int D3dxTextures() { return TexturesCreatedBy("d3dx9_43.dll"); }

Made CallEx(const std::vector<uint8_t>& file, const ExArgs& a, D3DXIMAGE_INFO* info = nullptr,
            int* preLoads = nullptr) {
  IDirect3DTexture9* texture = nullptr;
  const HRESULT hr =
      D3dxCreateEx()(TestDevice(), file.data(), static_cast<UINT>(file.size()), a.width, a.height, kDefault,
                     0, a.format, a.pool, kDefault, a.mipFilter, a.colorKey, info, nullptr, &texture);
  if (preLoads != nullptr && hr == S_OK) *preLoads = PreLoadCalls(texture);
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
    standin::GameGlobal<int>(game::kInsertedSleepEcxSource) = 1000;
    plain_ = BytesAt(reinterpret_cast<const void*>(D3dxCreate()));
    ex_ = BytesAt(reinterpret_cast<const void*>(D3dxCreateEx()));
  }
  bool Load() {
    const bool loaded = host_.LoadPlugin() && host_.Query() && host_.Load();
    WatchTextures();
    return loaded;
  }
  bool D3dxAsBefore() const {
    return BytesAt(reinterpret_cast<const void*>(D3dxCreate())) == plain_ &&
           BytesAt(reinterpret_cast<const void*>(D3dxCreateEx())) == ex_;
  }
  standin::Host host_;
  Bytes plain_, ex_;
};

TEST_F(TextureHooks, LoadRedirectsBothFunctionsInsertsTheSleepAndDetachRestoresD3DX) {
  ASSERT_TRUE(Load());
  EXPECT_EQ(BytesAt(reinterpret_cast<const void*>(D3dxCreate()))[0], 0xE9);
  EXPECT_EQ(BytesAt(reinterpret_cast<const void*>(D3dxCreateEx()))[0], 0xE9);
  EXPECT_TRUE(standin::JumpsIntoPlugin(game::kInsertedSleepJump, host_.module()));
  const std::vector<std::string> log = LogWithoutTimes();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(log.end() - 3, log.end()),
            (std::vector<std::string>{"INFO: Hooked D3DX9_42.dll D3DXCreateTextureFromFileInMemory",
                                      "INFO: Hooked D3DX9_43.dll D3DXCreateTextureFromFileInMemoryEx",
                                      "INFO: SKSEPlugin_Load"}));
  host_.Unload();
  EXPECT_TRUE(D3dxAsBefore());
  EXPECT_EQ(*reinterpret_cast<const uint8_t*>(game::kInsertedSleepJump), 0xE9);
}

TEST_F(TextureHooks, FasterLoadingOffLeavesD3DXButStillInsertsTheSleep) {
  standin::WriteSettings("[Optimize]\r\nFasterLoading=0\r\n");
  ASSERT_TRUE(Load());
  EXPECT_TRUE(D3dxAsBefore());
  EXPECT_TRUE(standin::JumpsIntoPlugin(game::kInsertedSleepJump, host_.module()));
  for (const std::string& line : LogWithoutTimes())
    EXPECT_EQ(line.find("Hooked D3DX"), std::string::npos) << line;
}

TEST_F(TextureHooks, InsertedSleepWaitsAndKeepsTheGameRoutineWhole) {
  auto routine = reinterpret_cast<int(__cdecl*)(int)>(standin::kGameSleepRoutine);
  ASSERT_EQ(routine(5), 1000 + standin::kGameSleepIntact);
  ASSERT_TRUE(Load());
  standin::GameGlobal<int>(game::kInsertedSleepEcxSource) = 2000;
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  EXPECT_EQ(routine(7), 2000 + standin::kGameSleepIntact);
  QueryPerformanceCounter(&end);
  EXPECT_GE((end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart, 24);  // 25 ms, give or take rounding
}

TEST_F(TextureHooks, DdsFilesAreBuiltDirectlyAsD3DXBuildsThem) {
  const DdsLayout layouts[] = {{Dxt1PixelFormat(), 256, 256, 9}, {A8R8G8B8PixelFormat(), 64, 32, 7}};
  std::vector<std::vector<uint8_t>> files;
  std::vector<Made> managed, placed;
  std::vector<D3DXIMAGE_INFO> infos(std::size(layouts));
  ExArgs defaultPool;
  defaultPool.pool = D3DPOOL_DEFAULT;
  for (const DdsLayout& layout : layouts) {
    files.push_back(MakeDds(layout));
    managed.push_back(CallEx(files.back(), {}, &infos[files.size() - 1]));
    placed.push_back(CallEx(files.back(), defaultPool));
  }
  // 24-bit files, which D3DX turns into X8R8G8B8, come out widened to
  // A8R8G8B8: a whole stored chain level by level, a lone top level with
  // levels generated by the device.
  const DdsLayout rgbChain = {R8G8B8PixelFormat(), 64, 32, 7}, rgbTop = {R8G8B8PixelFormat(), 64, 32, 1};
  const std::vector<uint8_t> rgbFiles[] = {MakeDds(rgbChain), MakeDds(rgbTop)};
  std::vector<std::vector<uint8_t>> widened;
  for (UINT level = 0; level < rgbChain.mipMapCount; ++level) {
    const LevelSpan span = LevelOf(rgbChain, level);
    widened.emplace_back(span.size.bytes / 3 * 4);
    ExpandRgbRowSse2(widened.back().data(), rgbFiles[0].data() + span.offset, span.size.bytes / 3);
  }
  ASSERT_TRUE(Load());
  for (size_t i = 0; i < files.size(); ++i) {
    for (ExArgs a :
         {ExArgs{}, ExArgs{0, 0, static_cast<D3DFORMAT>(FormatFromPixelFormat(layouts[i].pixelFormat))}}) {
      D3DXIMAGE_INFO info;
      std::memset(&info, 0x77, sizeof info);
      const int byD3dx = D3dxTextures();
      int preLoads = 0;
      const Made made = CallEx(files[i], a, &info, &preLoads);
      EXPECT_EQ(D3dxTextures(), byD3dx) << "file " << i << " went to D3DX";
      EXPECT_EQ(std::memcmp(&info, &infos[i], sizeof info), 0) << "file " << i << ": not D3DX's image info";
      EXPECT_EQ(preLoads, 1);
      EXPECT_EQ(made, FromFile(layouts[i], files[i])) << "file " << i;
      EXPECT_EQ(made, managed[i]) << "file " << i;
    }
    int preLoads = 0;
    EXPECT_EQ(Call(files[i], &preLoads), managed[i]) << "file " << i;
    EXPECT_EQ(preLoads, 1);
    const int byD3dx = D3dxTextures();
    EXPECT_EQ(CallEx(files[i], defaultPool), placed[i]) << "file " << i;
    EXPECT_EQ(D3dxTextures(), byD3dx) << "file " << i << " went to D3DX";
  }
  for (const auto& rgbFile : rgbFiles) {
    const bool chain = &rgbFile == &rgbFiles[0];
    for (const Made& made : {Call(rgbFile), CallEx(rgbFile, {}), CallEx(rgbFile, defaultPool)}) {
      ASSERT_EQ(made.result, S_OK);
      EXPECT_EQ(made.format, D3DFMT_A8R8G8B8);
      EXPECT_EQ(made.usage, chain ? 0u : static_cast<DWORD>(D3DUSAGE_AUTOGENMIPMAP));
      EXPECT_EQ(made.bytes.at(0), widened.at(0));
      if (chain && made.pool == D3DPOOL_MANAGED) {
        EXPECT_EQ(made.bytes, widened);
      }
    }
  }
}

TEST_F(TextureHooks, RefusedCallsGetWhatD3DXGivesForThem) {
  const std::vector<uint8_t> chain = MakeDds({Dxt1PixelFormat(), 64, 64, 7});
  const std::vector<uint8_t> oneLevel = MakeDds({Dxt1PixelFormat(), 64, 64, 1});
  std::vector<uint8_t> cube = MakeDds({A8R8G8B8PixelFormat(), 8, 8, 1, 0xFE00});
  const std::vector<uint8_t> face(cube.begin() + 128, cube.end());
  for (int i = 0; i < 5; ++i) cube.insert(cube.end(), face.begin(), face.end());
  const std::vector<uint8_t> notAnImage(300, 0x42);
  const std::vector<uint8_t> argbChain = MakeDdsWithMips(A8R8G8B8PixelFormat(), 16, 16);

  ExArgs systemMemory, explicitSize, keyed;
  systemMemory.pool = D3DPOOL_SYSTEMMEM;
  explicitSize.width = 32;
  explicitSize.height = 16;
  std::memcpy(&keyed.colorKey, &argbChain[128], 4);  // the first texel is keyed out
  struct Case {
    const std::vector<uint8_t>* file;
    ExArgs args;
    ExArgs byD3dx;  // the call whose D3DX answer the game gets
  };
  const Case cases[] = {{&chain, systemMemory, systemMemory},
                        {&chain, explicitSize, explicitSize},
                        {&argbChain, keyed, keyed},
                        {&cube, {}, {}},
                        {&oneLevel, {}, {}}};  // compressed, a partial chain: stays compressed
  std::vector<Made> expected;
  for (const Case& c : cases) expected.push_back(CallEx(*c.file, c.byD3dx));
  const Made plainOneLevel = Call(oneLevel), plainCube = Call(cube), plainNotAnImage = Call(notAnImage);

  ASSERT_TRUE(Load());
  for (size_t i = 0; i < std::size(cases); ++i) {
    const int byD3dx = D3dxTextures();
    EXPECT_EQ(CallEx(*cases[i].file, cases[i].args), expected[i]) << "case " << i;
    EXPECT_GT(D3dxTextures(), byD3dx) << "case " << i << " not handed to D3DX";
  }
  EXPECT_NE(expected[2], CallEx(argbChain, {})) << "the key changed nothing";
  EXPECT_EQ(std::make_tuple(expected[4].format, expected[4].width, expected[4].levels),
            std::make_tuple(D3DFMT_DXT1, 64u, 7u));
  int preLoads = -1;
  EXPECT_EQ(Call(oneLevel, &preLoads), plainOneLevel);
  EXPECT_EQ(preLoads, 0);
  preLoads = -1;
  EXPECT_EQ(Call(cube, &preLoads), plainCube);
  EXPECT_EQ(preLoads, plainCube.result == S_OK ? 0 : -1);
  EXPECT_EQ(Call(notAnImage), plainNotAnImage);
  EXPECT_NE(plainNotAnImage.result, S_OK);
}

// Lowered texture quality: the skip bits of MipFilter start the texture at a
// smaller stored level, as in D3DX, on the direct path.
TEST_F(TextureHooks, SkippedTopLevelsGiveD3DXsSizeLevelsAndBytes) {
  const std::vector<uint8_t> file = MakeDdsWithMips(Dxt1PixelFormat(), 256, 256);
  ExArgs skip2, skipAll;
  skip2.mipFilter = D3DX_SKIP_DDS_MIP_LEVELS(2, D3DX_FILTER_BOX);
  skipAll.mipFilter = D3DX_SKIP_DDS_MIP_LEVELS(9, D3DX_FILTER_BOX);  // as many as stored: none skipped
  // Wine's D3DX counts the levels it loaded two short when it skips two,
  // and filters the last two from the third-last instead of loading them:
  // their bytes are not compared.
  auto skipped = [&](ExArgs a) {
    Made made = CallEx(file, a);
    if (a.mipFilter == skip2.mipFilter && made.bytes.size() == 7) made.bytes.resize(5);
    return made;
  };
  std::vector<Made> expected;
  for (D3DPOOL pool : {D3DPOOL_MANAGED, D3DPOOL_DEFAULT}) {
    for (ExArgs a : {skip2, skipAll}) {
      a.pool = pool;
      expected.push_back(skipped(a));
    }
  }
  EXPECT_EQ(std::make_tuple(expected[0].width, expected[0].height, expected[0].levels),
            std::make_tuple(64u, 64u, 7u));
  ASSERT_TRUE(Load());
  const int byD3dx = D3dxTextures();
  size_t i = 0;
  for (D3DPOOL pool : {D3DPOOL_MANAGED, D3DPOOL_DEFAULT}) {
    for (ExArgs a : {skip2, skipAll}) {
      a.pool = pool;
      EXPECT_EQ(skipped(a), expected[i]) << "case " << i;
      ++i;
    }
  }
  EXPECT_EQ(D3dxTextures(), byD3dx);
}

// A device that refuses a compressed format converts a file that the direct
// path declines into a render-target ARGB texture as D3DX decodes it; without
// the caps for that, D3DX makes it, and the direct path makes no texture.
TEST_F(TextureHooks, DeviceConvertsCompressedFilesWhereItCanAndIsNotAskedWhereItCannot) {
  const std::vector<uint8_t> file = MakeDds({Dxt1PixelFormat(), 64, 64, 1});
  ExArgs argb;
  argb.pool = D3DPOOL_DEFAULT;
  argb.format = D3DFMT_A8R8G8B8;
  const Made decoded = CallEx(file, argb);
  ASSERT_EQ(decoded.result, S_OK);
  ASSERT_TRUE(Load());
  ExArgs defaultPool;
  defaultPool.pool = D3DPOOL_DEFAULT;
  StandInDeviceLimits(D3DFMT_DXT1, true);
  const int byD3dx = D3dxTextures();
  const Made converted = CallEx(file, defaultPool);
  EXPECT_EQ(D3dxTextures(), byD3dx);
  ASSERT_EQ(converted.result, S_OK);
  EXPECT_EQ(std::make_tuple(converted.format, converted.usage, converted.width),
            std::make_tuple(D3DFMT_A8R8G8B8,
                            static_cast<DWORD>(D3DUSAGE_RENDERTARGET | D3DUSAGE_AUTOGENMIPMAP), 64u));
  ASSERT_EQ(converted.bytes.at(0).size(), decoded.bytes.at(0).size());
  for (size_t k = 0; k < decoded.bytes[0].size(); ++k) {
    ASSERT_LE(std::abs(converted.bytes[0][k] - decoded.bytes[0][k]), 1) << "byte " << k;
  }

  StandInDeviceLimits(D3DFMT_DXT1, false);
  const int byPlugin = TexturesCreatedBy("Quelbrand.dll");
  EXPECT_EQ(CallEx(file, defaultPool), decoded);
  EXPECT_EQ(TexturesCreatedBy("Quelbrand.dll"), byPlugin);
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

// A large texture has its levels copied on helper threads, which stay a
// while for the next load and hold the plug-in loaded: unloading it takes
// effect once they have ended, so none ever runs in an unloaded module.
TEST_F(TextureHooks, UnloadTakesEffectOnceTheCopyHelpersHaveEnded) {
  const DdsLayout layout = {A8R8G8B8PixelFormat(), 2048, 2048, 12};  // level 0 split
  const std::vector<uint8_t> file = MakeDds(layout);
  ASSERT_TRUE(Load());
  IDirect3DTexture9* texture = nullptr;
  // Unloaded at once, well within the helpers' idle time; the texture is
  // looked into afterwards.
  const HRESULT hr =
      D3dxCreateEx()(TestDevice(), file.data(), static_cast<UINT>(file.size()), kDefault, kDefault, kDefault,
                     0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, kDefault, kDefault, 0, nullptr, nullptr, &texture);
  host_.Unload();
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  if (system.dwNumberOfProcessors > 1) {
    EXPECT_NE(GetModuleHandleA("Quelbrand.dll"), nullptr) << "no helper holds the module";
  }
  EXPECT_EQ(Describe(hr, texture), FromFile(layout, file));
  const ULONGLONG deadline = GetTickCount64() + 10000;
  while (GetModuleHandleA("Quelbrand.dll") != nullptr && GetTickCount64() < deadline) Sleep(20);
  EXPECT_EQ(GetModuleHandleA("Quelbrand.dll"), nullptr);
  EXPECT_TRUE(D3dxAsBefore());
  const std::vector<std::string> log = LogWithoutTimes();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "INFO: Detach");
}

}  // namespace
