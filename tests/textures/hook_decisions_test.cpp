// The replacements' decisions with D3DX stood in for by recording functions
// in the sites: which calls take the direct path, and what reaches D3DX, in
// which order, with which arguments, when they do not; damaged files either
// load directly or reach D3DX unchanged.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <tuple>

#include "d3d_support.h"
#include "dds_builder.h"
#include "guarded_buffer.h"
#include "textures/texture_hooks.h"
#include "textures/texture_sites.h"

namespace {

constexpr UINT kDefault = D3DX_DEFAULT;

struct D3dxCall {
  bool ex;
  LPCVOID data;
  UINT size, width, height, mipLevels;
  DWORD usage;
  D3DFORMAT format;
  D3DPOOL pool;
  DWORD filter, mipFilter;
  D3DCOLOR colorKey;
  D3DXIMAGE_INFO* info;
  PALETTEENTRY* palette;
  IDirect3DTexture9** out;

  auto Tie() const {
    return std::tie(ex, data, size, width, height, mipLevels, usage, format, pool, filter, mipFilter,
                    colorKey, info, palette, out);
  }
  bool operator==(const D3dxCall& other) const { return Tie() == other.Tie(); }
};

void PrintTo(const D3dxCall& c, std::ostream* os) {
  *os << (c.ex ? "Ex(" : "Plain(") << c.width << "x" << c.height << " mips " << c.mipLevels << " usage "
      << c.usage << " format " << c.format << " pool " << c.pool << " filters " << c.filter << "/"
      << c.mipFilter << " key " << c.colorKey << " info " << c.info << " palette " << c.palette << ")";
}

std::vector<D3dxCall> calls;
// Answers of the stand-in D3DX, one per call; S_OK hands out a 1x1 texture.
std::vector<HRESULT> answers;

HRESULT Answer(IDirect3DTexture9** out) {
  const HRESULT hr = calls.size() <= answers.size() ? answers[calls.size() - 1] : answers.back();
  if (hr == S_OK) {
    EXPECT_EQ(TestDevice()->CreateTexture(1, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, out, nullptr), S_OK);
  }
  return hr;
}

HRESULT WINAPI StandInCreate(IDirect3DDevice9*, LPCVOID data, UINT size, IDirect3DTexture9** out) {
  calls.push_back(
      {false, data, size, 0, 0, 0, 0, D3DFMT_UNKNOWN, D3DPOOL_DEFAULT, 0, 0, 0, nullptr, nullptr, out});
  return Answer(out);
}

HRESULT WINAPI StandInCreateEx(IDirect3DDevice9*, LPCVOID data, UINT size, UINT width, UINT height,
                               UINT mipLevels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter,
                               DWORD mipFilter, D3DCOLOR colorKey, D3DXIMAGE_INFO* info,
                               PALETTEENTRY* palette, IDirect3DTexture9** out) {
  calls.push_back({true, data, size, width, height, mipLevels, usage, format, pool, filter, mipFilter,
                   colorKey, info, palette, out});
  return Answer(out);
}

IDirect3DTexture9* const kUntouched = reinterpret_cast<IDirect3DTexture9*>(0x5EED);

// The caller's side of an Ex call.
struct ExArguments {
  UINT width = kDefault, height = kDefault, mipLevels = kDefault;
  DWORD usage = 0;
  D3DFORMAT format = D3DFMT_UNKNOWN;
  D3DPOOL pool = D3DPOOL_MANAGED;
  DWORD filter = 3, mipFilter = 5;
  D3DCOLOR colorKey = 0xFF00FF;
  D3DXIMAGE_INFO* info = nullptr;
  PALETTEENTRY* palette = nullptr;
};

class HookDecisions : public ::testing::Test {
 protected:
  void SetUp() override {
    device_ = TestDevice();
    ASSERT_NE(device_, nullptr) << "no Direct3D device";
    WatchTextureCreation();
    CreateTextureFromFileInMemorySite = reinterpret_cast<PatchSite>(StandInCreate);
    CreateTextureFromFileInMemoryExSite = reinterpret_cast<PatchSite>(StandInCreateEx);
    calls.clear();
    answers = {S_OK};
    baseline_ = References(device_);
  }
  void TearDown() override {
    if (device_ != nullptr) {
      EXPECT_EQ(References(device_), baseline_);
    }
  }

  const uint8_t* Place(const std::vector<uint8_t>& bytes) {
    buffer_ = std::make_unique<GuardedBuffer>(bytes.size());
    std::memcpy(buffer_->data(), bytes.data(), bytes.size());
    return buffer_->data();
  }

  HRESULT CallEx(const std::vector<uint8_t>& file, const ExArguments& a, IDirect3DTexture9** out) {
    return FastCreateTextureFromFileInMemoryEx(device_, Place(file), static_cast<UINT>(file.size()), a.width,
                                               a.height, a.mipLevels, a.usage, a.format, a.pool, a.filter,
                                               a.mipFilter, a.colorKey, a.info, a.palette, out);
  }
  HRESULT Call(const std::vector<uint8_t>& file, IDirect3DTexture9** out) {
    return FastCreateTextureFromFileInMemory(device_, Place(file), static_cast<UINT>(file.size()), out);
  }

  // An Ex call as it reaches D3DX.
  D3dxCall ExCall(const std::vector<uint8_t>& file, const ExArguments& a, IDirect3DTexture9** out) const {
    return {true,     buffer_->data(), static_cast<UINT>(file.size()),
            a.width,  a.height,        a.mipLevels,
            a.usage,  a.format,        a.pool,
            a.filter, a.mipFilter,     a.colorKey,
            a.info,   a.palette,       out};
  }

  IDirect3DDevice9* device_ = nullptr;
  ULONG baseline_ = 0;
  std::unique_ptr<GuardedBuffer> buffer_;
};

TEST_F(HookDecisions, DirectPathServesDefaultArgumentsAndReportsTheHeader) {
  const std::vector<uint8_t> file = MakeDdsWithMips(Dxt1PixelFormat(), 64, 16);
  for (D3DFORMAT format : {D3DFMT_UNKNOWN, D3DFMT_DXT1}) {
    for (UINT extent : {0u, kDefault}) {
      for (D3DPOOL pool : {D3DPOOL_MANAGED, D3DPOOL_DEFAULT}) {
        D3DXIMAGE_INFO info;
        std::memset(&info, 0xAB, sizeof info);
        ExArguments a;
        a.width = a.height = a.mipLevels = extent;
        a.format = format;
        a.pool = pool;
        a.info = &info;
        IDirect3DTexture9* texture = kUntouched;
        ASSERT_EQ(CallEx(file, a, &texture), S_OK);
        EXPECT_TRUE(calls.empty());
        EXPECT_EQ(LevelDesc(texture, 0).Pool, pool);
        EXPECT_EQ(LevelDesc(texture, 0).Format, D3DFMT_DXT1);
        if (pool == D3DPOOL_MANAGED) {
          EXPECT_EQ(PreLoadCalls(texture), 1);
        }
        EXPECT_EQ(info.Width, 64u);
        EXPECT_EQ(info.Height, 16u);
        EXPECT_EQ(info.Depth, 0u);
        EXPECT_EQ(info.MipLevels, 7u);
        EXPECT_EQ(info.Format, D3DFMT_DXT1);
        EXPECT_EQ(info.ImageFileFormat, D3DXIFF_DDS);
        EXPECT_EQ(static_cast<uint32_t>(info.ResourceType), 0xABABABABu);
        texture->Release();
      }
    }
  }
  // A 1x1 file without a level count is reported with the count it stores.
  D3DXIMAGE_INFO info = {};
  ExArguments a;
  a.info = &info;
  IDirect3DTexture9* texture = nullptr;
  ASSERT_EQ(CallEx(MakeDds({A8R8G8B8PixelFormat(), 1, 1, 0}), a, &texture), S_OK);
  EXPECT_EQ(info.MipLevels, 0u);
  texture->Release();
  ASSERT_EQ(Call(file, &texture), S_OK);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(PreLoadCalls(texture), 1);
  texture->Release();
}

TEST_F(HookDecisions, RefusedExCallsReachD3DXWithTheCallersArguments) {
  const std::vector<uint8_t> file = MakeDdsWithMips(Dxt1PixelFormat(), 32, 32);
  PALETTEENTRY palette[256] = {};
  std::vector<std::pair<const char*, ExArguments>> cases;
  ExArguments a;
  a.usage = D3DUSAGE_DYNAMIC;
  cases.emplace_back("usage", a);
  a = {};
  a.palette = palette;
  cases.emplace_back("palette", a);
  a = {};
  a.pool = D3DPOOL_SYSTEMMEM;
  cases.emplace_back("system memory", a);
  a = {};
  a.width = 32;
  cases.emplace_back("width", a);
  a = {};
  a.height = 16;
  cases.emplace_back("height", a);
  a = {};
  a.mipLevels = 1;
  cases.emplace_back("levels", a);
  for (const auto& [what, arguments] : cases) {
    calls.clear();
    IDirect3DTexture9* texture = kUntouched;
    ASSERT_EQ(CallEx(file, arguments, &texture), S_OK) << what;
    ASSERT_EQ(calls, std::vector<D3dxCall>{ExCall(file, arguments, &texture)}) << what;
    EXPECT_EQ(PreLoadCalls(texture), 1) << what;
    texture->Release();
  }

  // A format other than the file's is refused before anything is made; the
  // default-size retry follows a failure of the unchanged call.
  a = {};
  a.format = D3DFMT_A8R8G8B8;
  const std::vector<uint8_t> xrgb = MakeDdsWithMips(X8R8G8B8PixelFormat(), 8, 8);
  answers = {E_FAIL, S_OK};
  calls.clear();
  IDirect3DTexture9* texture = nullptr;
  ASSERT_EQ(CallEx(xrgb, a, &texture), S_OK);
  ExArguments defaults = a;
  defaults.width = defaults.height = defaults.mipLevels = kDefault;
  defaults.format = D3DFMT_UNKNOWN;
  EXPECT_EQ(calls, (std::vector<D3dxCall>{ExCall(xrgb, a, &texture), ExCall(xrgb, defaults, &texture)}));
  texture->Release();

  // A file the direct path cannot serve: D3DX in the file's format, then as
  // called, then with default size, levels and format.
  const std::vector<uint8_t> partial = MakeDds({A8R8G8B8PixelFormat(), 64, 64, 1});
  answers = {E_FAIL, E_OUTOFMEMORY, D3DERR_NOTAVAILABLE};
  calls.clear();
  texture = kUntouched;
  a = {};
  a.width = 0;
  EXPECT_EQ(CallEx(partial, a, &texture), D3DERR_NOTAVAILABLE);
  EXPECT_EQ(texture, kUntouched);
  ExArguments asFile = a;
  asFile.format = D3DFMT_A8R8G8B8;
  defaults = a;
  defaults.width = defaults.height = defaults.mipLevels = kDefault;
  EXPECT_EQ(calls, (std::vector<D3dxCall>{ExCall(partial, asFile, &texture), ExCall(partial, a, &texture),
                                          ExCall(partial, defaults, &texture)}));

  // Cube maps, volumes and depth files are D3DX's in any case.
  for (auto [caps2, flags] :
       {std::pair<uint32_t, uint32_t>{0xFE00, 0x1007}, {0x200000, 0x1007}, {0, 0x801007}}) {
    DdsLayout layout = {A8R8G8B8PixelFormat(), 4, 4, 1, caps2, flags};
    const std::vector<uint8_t> special = MakeDds(layout);
    calls.clear();
    answers = {S_OK};
    texture = nullptr;
    ASSERT_EQ(CallEx(special, {}, &texture), S_OK);
    EXPECT_EQ(calls, std::vector<D3dxCall>{ExCall(special, {}, &texture)}) << caps2 << " " << flags;
    texture->Release();
    calls.clear();
    ASSERT_EQ(Call(special, &texture), S_OK);
    EXPECT_EQ(calls.size(), 1u);
    EXPECT_FALSE(calls[0].ex);
    EXPECT_EQ(PreLoadCalls(texture), 0);  // D3DX's texture is the game's as D3DX made it
    texture->Release();
  }
}

TEST_F(HookDecisions, RefusedCompressedFilesAreAskedForAsArgbFirst) {
  // One level of a 256x256 file: the device's full chain has nine.
  const std::vector<uint8_t> file = MakeDds({Dxt1PixelFormat(), 256, 256, 1});
  answers = {E_FAIL, D3DERR_NOTAVAILABLE, E_OUTOFMEMORY, D3DERR_INVALIDCALL};
  for (D3DPOOL pool : {D3DPOOL_MANAGED, D3DPOOL_DEFAULT}) {
    calls.clear();
    ExArguments a;
    a.pool = pool;
    IDirect3DTexture9* texture = kUntouched;
    EXPECT_EQ(CallEx(file, a, &texture), D3DERR_INVALIDCALL);
    EXPECT_EQ(texture, kUntouched);
    ExArguments argb = a, asFile = a, defaults = a;
    argb.format = D3DFMT_A8R8G8B8;
    asFile.format = D3DFMT_DXT1;
    defaults.width = defaults.height = defaults.mipLevels = kDefault;
    const std::vector<D3dxCall> expected = {ExCall(file, argb, &texture), ExCall(file, asFile, &texture),
                                            ExCall(file, a, &texture), ExCall(file, defaults, &texture)};
    EXPECT_EQ(calls, expected) << "pool " << pool;
  }

  // The plain call asks D3DX9_43 for managed 32-bit ARGB, then D3DX9_42 as called.
  calls.clear();
  answers = {E_FAIL, D3DERR_NOTAVAILABLE};
  IDirect3DTexture9* texture = kUntouched;
  EXPECT_EQ(Call(file, &texture), D3DERR_NOTAVAILABLE);
  EXPECT_EQ(texture, kUntouched);
  ExArguments argb;
  argb.format = D3DFMT_A8R8G8B8;
  argb.filter = argb.mipFilter = kDefault;
  argb.colorKey = 0;
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0], ExCall(file, argb, &texture));
  EXPECT_EQ(calls[1], (D3dxCall{false, buffer_->data(), static_cast<UINT>(file.size()), 0, 0, 0, 0,
                                D3DFMT_UNKNOWN, D3DPOOL_DEFAULT, 0, 0, 0, nullptr, nullptr, &texture}));

  // A successful ARGB answer is the plain call's result, and gets its PreLoad.
  calls.clear();
  answers = {S_OK};
  ASSERT_EQ(Call(file, &texture), S_OK);
  EXPECT_EQ(calls.size(), 1u);
  EXPECT_EQ(PreLoadCalls(texture), 1);
  texture->Release();

  // Without D3DX9_43 the plain function gets the call directly.
  CreateTextureFromFileInMemoryExSite = nullptr;
  calls.clear();
  ASSERT_EQ(Call(file, &texture), S_OK);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_FALSE(calls[0].ex);
  texture->Release();

  // Other refused formats go to the plain function at once.
  CreateTextureFromFileInMemoryExSite = reinterpret_cast<PatchSite>(StandInCreateEx);
  calls.clear();
  ASSERT_EQ(Call(MakeDds({A8R8G8B8PixelFormat(), 64, 64, 1}), &texture), S_OK);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_FALSE(calls[0].ex);
  texture->Release();
}

// Truncated and bit-flipped files against a guard page, through both
// replacements: a direct texture, or D3DX called with the very bytes the
// caller gave; never a read past the file or a texture left behind.
TEST_F(HookDecisions, DamagedFilesLoadDirectlyOrReachD3DXUnchanged) {
  const std::vector<std::vector<uint8_t>> files = {
      MakeDdsWithMips(Dxt1PixelFormat(), 32, 32),
      MakeDdsWithMips(A8R8G8B8PixelFormat(), 8, 8),
      MakeDds({R8G8B8PixelFormat(), 8, 4, 0}),
  };
  std::mt19937 random(5);
  int direct = 0, handedOn = 0;
  for (const auto& original : files) {
    std::vector<std::vector<uint8_t>> variants;
    for (size_t length = 0; length < original.size(); length += 1 + length / 12) {
      variants.emplace_back(original.begin(), original.begin() + static_cast<ptrdiff_t>(length));
    }
    for (int flips = 0; flips < 200; ++flips) {
      std::vector<uint8_t> damaged = original;
      damaged[random() % 128] ^= static_cast<uint8_t>(1u << (random() % 8));
      if (flips % 3 == 0) damaged.resize(damaged.size() - random() % 24);
      variants.push_back(std::move(damaged));
    }
    for (const auto& bytes : variants) {
      for (int plain = 0; plain < 2; ++plain) {
        calls.clear();
        IDirect3DTexture9* texture = nullptr;
        ExArguments a;
        a.pool = random() % 2 ? D3DPOOL_MANAGED : D3DPOOL_DEFAULT;
        ASSERT_EQ(plain ? Call(bytes, &texture) : CallEx(bytes, a, &texture), S_OK);
        ASSERT_NE(texture, nullptr);
        for (const D3dxCall& call : calls) {
          ASSERT_EQ(call.data, buffer_->data());
          ASSERT_EQ(call.size, bytes.size());
          ASSERT_EQ(call.out, &texture);
        }
        (calls.empty() ? direct : handedOn) += 1;
        ASSERT_EQ(texture->Release(), 0u);
        ASSERT_EQ(References(device_), baseline_);
      }
    }
  }
  EXPECT_GT(direct, 50);
  EXPECT_GT(handedOn, 500);
}

TEST_F(HookDecisions, MissingDeviceOrOutPointerIsLeftToD3DX) {
  const std::vector<uint8_t> file = MakeDdsWithMips(A8R8G8B8PixelFormat(), 8, 8);
  answers = {D3DERR_INVALIDCALL};
  EXPECT_EQ(FastCreateTextureFromFileInMemory(device_, Place(file), static_cast<UINT>(file.size()), nullptr),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(TryLoadDds(nullptr, buffer_->data(), static_cast<UINT>(file.size()), nullptr), E_FAIL);
  IDirect3DTexture9* texture = kUntouched;
  EXPECT_EQ(TryLoadDdsEx(nullptr, buffer_->data(), static_cast<UINT>(file.size()), 0, 0, 0, 0, D3DFMT_UNKNOWN,
                         D3DPOOL_MANAGED, 0, 0, 0, nullptr, nullptr, &texture),
            E_FAIL);
  EXPECT_EQ(texture, kUntouched);
  EXPECT_EQ(calls.size(), 1u);
}

}  // namespace
