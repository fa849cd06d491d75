// The replacements' decisions with D3DX stood in for by recording functions
// in the sites: which calls take the direct path, and what reaches D3DX, in
// which order and with which arguments, when they do not. Damaged files load
// directly or reach D3DX unchanged, never read past their end.

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
IDirect3DTexture9* const kUntouched = reinterpret_cast<IDirect3DTexture9*>(0x5EED);

// An Ex call's arguments after the file; also a call as D3DX received it
// (`ex` false for the plain function, whose other fields stay default).
struct Args {
  UINT width = kDefault, height = kDefault, mipLevels = kDefault;
  DWORD usage = 0;
  D3DFORMAT format = D3DFMT_UNKNOWN;
  D3DPOOL pool = D3DPOOL_MANAGED;
  DWORD filter = 3, mipFilter = 5;
  D3DCOLOR colorKey = 0;
  D3DXIMAGE_INFO* info = nullptr;
  PALETTEENTRY* palette = nullptr;
  bool ex = true;
  LPCVOID data = nullptr;
  UINT size = 0;
  IDirect3DTexture9** out = nullptr;

  auto Tie() const {
    return std::tie(width, height, mipLevels, usage, format, pool, filter, mipFilter, colorKey, info, palette,
                    ex, data, size, out);
  }
  bool operator==(const Args& other) const { return Tie() == other.Tie(); }
};

void PrintTo(const Args& a, std::ostream* os) {
  *os << (a.ex ? "Ex " : "plain ") << a.width << "x" << a.height << " levels " << a.mipLevels << " usage "
      << a.usage << " format " << a.format << " pool " << a.pool << " filters " << a.filter << "/"
      << a.mipFilter << " key " << a.colorKey << " palette " << a.palette;
}

std::vector<Args> calls;
// The stand-in D3DX's answers, one per call (the last repeats); S_OK hands
// out a 1x1 texture.
std::vector<HRESULT> answers;

HRESULT Answer(IDirect3DTexture9** out) {
  const HRESULT hr = answers[std::min(calls.size(), answers.size()) - 1];
  if (hr == S_OK) TestDevice()->CreateTexture(1, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, out, nullptr);
  return hr;
}

HRESULT WINAPI StandInCreate(IDirect3DDevice9*, LPCVOID data, UINT size, IDirect3DTexture9** out) {
  Args a;
  a.width = a.height = a.mipLevels = 0;
  a.pool = D3DPOOL_DEFAULT;
  a.filter = a.mipFilter = a.colorKey = 0;
  a.ex = false;
  a.data = data;
  a.size = size;
  a.out = out;
  calls.push_back(a);
  return Answer(out);
}

HRESULT WINAPI StandInCreateEx(IDirect3DDevice9*, LPCVOID data, UINT size, UINT width, UINT height,
                               UINT mipLevels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter,
                               DWORD mipFilter, D3DCOLOR colorKey, D3DXIMAGE_INFO* info,
                               PALETTEENTRY* palette, IDirect3DTexture9** out) {
  calls.push_back({width, height, mipLevels, usage, format, pool, filter, mipFilter, colorKey, info, palette,
                   true, data, size, out});
  return Answer(out);
}

class HookDecisions : public ::testing::Test {
 protected:
  void SetUp() override {
    device_ = TestDevice();
    ASSERT_NE(device_, nullptr) << "no Direct3D device";
    WatchTextures();
    CreateTextureFromFileInMemorySite = reinterpret_cast<PatchSite>(StandInCreate);
    CreateTextureFromFileInMemoryExSite = reinterpret_cast<PatchSite>(StandInCreateEx);
    calls.clear();
    answers = {S_OK};
    baseline_ = References(device_);
  }
  void TearDown() override {
    StandInDeviceLimits(D3DFMT_UNKNOWN, true);
    if (device_ != nullptr) {
      EXPECT_EQ(References(device_), baseline_);
    }
  }

  HRESULT CallEx(const std::vector<uint8_t>& file, const Args& a, IDirect3DTexture9** out) {
    Place(file);
    return FastCreateTextureFromFileInMemoryEx(device_, buffer_->data(), static_cast<UINT>(file.size()),
                                               a.width, a.height, a.mipLevels, a.usage, a.format, a.pool,
                                               a.filter, a.mipFilter, a.colorKey, a.info, a.palette, out);
  }
  HRESULT Call(const std::vector<uint8_t>& file, IDirect3DTexture9** out) {
    Place(file);
    return FastCreateTextureFromFileInMemory(device_, buffer_->data(), static_cast<UINT>(file.size()), out);
  }
  // The call D3DX should see: `a` with the caller's file and out pointer.
  Args Reached(Args a, IDirect3DTexture9** out) const {
    a.data = buffer_->data();
    a.size = static_cast<UINT>(buffer_->size());
    a.out = out;
    return a;
  }

  IDirect3DDevice9* device_ = nullptr;
  ULONG baseline_ = 0;
  std::unique_ptr<GuardedBuffer> buffer_;

 private:
  void Place(const std::vector<uint8_t>& bytes) {
    buffer_ = std::make_unique<GuardedBuffer>(bytes.size());
    std::memcpy(buffer_->data(), bytes.data(), bytes.size());
  }
};

// The file's own format and every level's bytes, however the level is
// copied: in pieces on several threads, row by row where the pitch is wider.
TEST_F(HookDecisions, DirectPathBuildsTheFilesTextureAndReportsTheHeader) {
  const DdsPixelFormat l8 = {32, kDdpfLuminance, 0, 8, 0xFF, 0, 0, 0};
  const DdsLayout layouts[] = {
      {Dxt1PixelFormat(), 64, 16, 7},        {Dxt5PixelFormat(), 12, 12, 4},
      {X8R8G8B8PixelFormat(), 600, 520, 10}, {l8, 130, 130, 8},
      {A8R8G8B8PixelFormat(), 1, 1, 0},
  };
  for (const DdsLayout& layout : layouts) {
    const std::vector<uint8_t> file = MakeDds(layout);
    const auto format = static_cast<D3DFORMAT>(FormatFromPixelFormat(layout.pixelFormat));
    for (D3DFORMAT asked : {D3DFMT_UNKNOWN, format}) {
      for (D3DPOOL pool : {D3DPOOL_MANAGED, D3DPOOL_DEFAULT}) {
        D3DXIMAGE_INFO info;
        std::memset(&info, 0xAB, sizeof info);
        Args a;
        a.width = a.height = a.mipLevels = asked == D3DFMT_UNKNOWN ? 0 : kDefault;
        a.format = asked;
        a.pool = pool;
        a.info = &info;
        IDirect3DTexture9* texture = kUntouched;
        ASSERT_EQ(CallEx(file, a, &texture), S_OK) << layout.width << " format " << format;
        EXPECT_TRUE(calls.empty());
        EXPECT_EQ(PreLoadCalls(texture), pool == D3DPOOL_MANAGED ? 1 : -1);
        EXPECT_EQ(std::make_tuple(info.Width, info.Height, info.Depth, info.MipLevels, info.Format,
                                  info.ResourceType, info.ImageFileFormat),
                  std::make_tuple(layout.width, layout.height, 1u, std::max(layout.mipMapCount, 1u), format,
                                  D3DRTYPE_TEXTURE, D3DXIFF_DDS));
        ASSERT_EQ(texture->GetLevelCount(), std::max(layout.mipMapCount, 1u));
        for (uint32_t level = 0; level < texture->GetLevelCount(); ++level) {
          const D3DSURFACE_DESC desc = LevelDesc(texture, level);
          EXPECT_EQ(std::make_tuple(desc.Format, desc.Pool, desc.Width, desc.Height),
                    std::make_tuple(format, pool, LevelExtent(layout.width, level),
                                    LevelExtent(layout.height, level)));
          if (pool == D3DPOOL_MANAGED) {
            const LevelSpan span = LevelOf(layout, level);
            EXPECT_EQ(
                LevelBytes(texture, level),
                std::vector<uint8_t>(file.begin() + static_cast<ptrdiff_t>(span.offset),
                                     file.begin() + static_cast<ptrdiff_t>(span.offset + span.size.bytes)))
                << layout.width << " format " << format << " level " << level;
          }
        }
        texture->Release();
      }
    }
  }
  IDirect3DTexture9* texture = nullptr;
  ASSERT_EQ(Call(MakeDds(layouts[0]), &texture), S_OK);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(PreLoadCalls(texture), 1);
  texture->Release();
}

TEST_F(HookDecisions, RefusedCallsReachD3DXWithTheCallersArguments) {
  const std::vector<uint8_t> file = MakeDdsWithMips(Dxt1PixelFormat(), 32, 32);
  PALETTEENTRY palette[256] = {};
  std::vector<Args> refused(7);
  refused[0].usage = D3DUSAGE_DYNAMIC;
  refused[1].palette = palette;
  refused[2].pool = D3DPOOL_SYSTEMMEM;
  refused[3].width = 32;
  refused[4].height = 16;
  refused[5].mipLevels = 1;
  refused[6].colorKey = 0xFF00FF00;
  for (const Args& a : refused) {
    calls.clear();
    IDirect3DTexture9* texture = kUntouched;
    ASSERT_EQ(CallEx(file, a, &texture), S_OK) << ::testing::PrintToString(a);
    EXPECT_EQ(calls, std::vector<Args>{Reached(a, &texture)});
    EXPECT_EQ(PreLoadCalls(texture), 1);
    texture->Release();
  }

  // Cube maps, volumes and depth files go to D3DX as called; the plain
  // function's answer from D3DX reaches the game without a PreLoad.
  for (auto [caps2, flags] :
       {std::pair<uint32_t, uint32_t>{0xFE00, 0x1007}, {0x200000, 0x1007}, {0, 0x801007}}) {
    const std::vector<uint8_t> special = MakeDds({A8R8G8B8PixelFormat(), 4, 4, 1, caps2, flags});
    calls.clear();
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(CallEx(special, {}, &texture), S_OK);
    EXPECT_EQ(calls, std::vector<Args>{Reached({}, &texture)});
    texture->Release();
    calls.clear();
    ASSERT_EQ(Call(special, &texture), S_OK);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_FALSE(calls[0].ex);
    EXPECT_EQ(PreLoadCalls(texture), 0);
    texture->Release();
  }

  // Another format than the file's is refused before anything is made; the
  // unchanged call failing, the default-size retry follows.
  Args argb;
  argb.format = D3DFMT_A8R8G8B8;
  Args defaults = argb;
  defaults.format = D3DFMT_UNKNOWN;
  answers = {E_FAIL, S_OK};
  calls.clear();
  IDirect3DTexture9* texture = nullptr;
  ASSERT_EQ(CallEx(MakeDdsWithMips(X8R8G8B8PixelFormat(), 8, 8), argb, &texture), S_OK);
  EXPECT_EQ(calls, (std::vector<Args>{Reached(argb, &texture), Reached(defaults, &texture)}));
  texture->Release();

  // A file the direct path cannot serve: D3DX in the file's format, then as
  // called, then with default size, levels and format; the last code returns.
  answers = {E_FAIL, E_OUTOFMEMORY, D3DERR_NOTAVAILABLE};
  calls.clear();
  texture = kUntouched;
  Args asCalled;
  asCalled.width = 0;
  Args asFile = asCalled, retry = asCalled;
  asFile.format = D3DFMT_A8R8G8B8;
  retry.width = kDefault;
  EXPECT_EQ(CallEx(MakeDds({A8R8G8B8PixelFormat(), 64, 64, 1}), asCalled, &texture), D3DERR_NOTAVAILABLE);
  EXPECT_EQ(texture, kUntouched);
  EXPECT_EQ(calls, (std::vector<Args>{Reached(asFile, &texture), Reached(asCalled, &texture),
                                      Reached(retry, &texture)}));

  // Files whose levels are not all there go to D3DX in their own format
  // before any texture is made, also when the header claims an enormous size.
  std::vector<uint8_t> shortFile = MakeDdsWithMips(Dxt1PixelFormat(), 256, 256);
  shortFile.pop_back();
  std::vector<uint8_t> huge = MakeDdsWithMips(A8R8G8B8PixelFormat(), 8, 8);
  huge[14] = huge[18] = 1;  // 65544x65544
  Args dxt1 = argb;
  dxt1.format = D3DFMT_DXT1;
  for (const auto& [incomplete, ownFormat] :
       {std::pair{shortFile, dxt1}, {MakeDds({Dxt1PixelFormat(), 256, 256, 8}), dxt1}, {huge, argb}}) {
    answers = {S_OK};
    calls.clear();
    const int made = TexturesCreated();
    ASSERT_EQ(CallEx(incomplete, {}, &texture), S_OK);
    EXPECT_EQ(calls, std::vector<Args>{Reached(ownFormat, &texture)});
    EXPECT_EQ(TexturesCreated(), made + 1) << "only D3DX's texture";
    texture->Release();
  }

  // No place for the texture: D3DX answers that itself.
  answers = {D3DERR_INVALIDCALL};
  calls.clear();
  EXPECT_EQ(Call(file, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(calls.size(), 1u);
}

// A 24-bit file short of its last level is refused like any other short
// file, and a call that fails leaves the caller's image info as it was.
TEST_F(HookDecisions, ShortFilesAreRefusedAndFailedCallsLeaveTheImageInfo) {
  std::vector<uint8_t> rgb = MakeDdsWithMips(R8G8B8PixelFormat(), 64, 32);
  rgb.resize(rgb.size() - 21);
  const auto unknown = MakeDdsWithMips(FourCcPixelFormat(MakeFourCc('A', 'T', 'I', '2')), 8, 8);
  answers = {E_FAIL};
  for (const auto& file : {rgb, unknown, MakeDds({Dxt1PixelFormat(), 64, 64, 1})}) {
    D3DXIMAGE_INFO info, before;
    std::memset(&info, 0xAB, sizeof info);
    before = info;
    Args a;
    a.info = &info;
    calls.clear();
    const int made = TexturesCreated();
    IDirect3DTexture9* texture = kUntouched;
    EXPECT_EQ(CallEx(file, a, &texture), E_FAIL);
    EXPECT_EQ(Call(file, &texture), E_FAIL);
    EXPECT_EQ(
        std::make_tuple(std::memcmp(&info, &before, sizeof info), calls.size(), TexturesCreated(), texture),
        std::make_tuple(0, 4u, made, kUntouched));
  }
}

// Compressed files stay compressed where the device takes their format; a
// device that refuses it gets them as 32-bit ARGB.
TEST_F(HookDecisions, RefusedCompressedFilesAreAskedForAsArgbOnlyWhereTheDeviceRefusesTheirFormat) {
  // One level of a 256x256 file: the full chain has nine.
  const std::vector<uint8_t> file = MakeDds({Dxt1PixelFormat(), 256, 256, 1});
  for (bool refused : {false, true}) {
    // Without automatic mip generation: no conversion on the device.
    StandInDeviceLimits(refused ? D3DFMT_DXT1 : D3DFMT_UNKNOWN, !refused);
    for (D3DPOOL pool : {D3DPOOL_MANAGED, D3DPOOL_DEFAULT}) {
      answers = {E_FAIL, D3DERR_NOTAVAILABLE, E_OUTOFMEMORY, D3DERR_INVALIDCALL};
      calls.clear();
      Args a;
      a.pool = pool;
      IDirect3DTexture9* texture = kUntouched;
      Args argb = a, asFile = a;
      argb.format = D3DFMT_A8R8G8B8;
      asFile.format = D3DFMT_DXT1;
      EXPECT_EQ(CallEx(file, a, &texture), refused ? D3DERR_INVALIDCALL : E_OUTOFMEMORY);
      std::vector<Args> expected = {Reached(asFile, &texture), Reached(a, &texture), Reached(a, &texture)};
      if (refused) expected.insert(expected.begin(), Reached(argb, &texture));
      EXPECT_EQ(texture, kUntouched);
      EXPECT_EQ(calls, expected) << "pool " << pool << (refused ? ", format refused" : "");
    }
    // The plain call goes to D3DX9_42 as called, or to D3DX9_43 for ARGB.
    calls.clear();
    answers = {S_OK};
    IDirect3DTexture9* texture = kUntouched;
    ASSERT_EQ(Call(file, &texture), S_OK);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].ex, refused);
    texture->Release();
  }

  // On that device the plain call asks D3DX9_43 for managed 32-bit ARGB,
  // then D3DX9_42 as called.
  calls.clear();
  answers = {E_FAIL, D3DERR_NOTAVAILABLE};
  IDirect3DTexture9* texture = kUntouched;
  EXPECT_EQ(Call(file, &texture), D3DERR_NOTAVAILABLE);
  EXPECT_EQ(texture, kUntouched);
  Args argb;
  argb.format = D3DFMT_A8R8G8B8;
  argb.filter = argb.mipFilter = kDefault;
  argb.colorKey = 0;
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0], Reached(argb, &texture));
  EXPECT_FALSE(calls[1].ex);

  // Its ARGB answer is the result, with a PreLoad.
  calls.clear();
  answers = {S_OK};
  ASSERT_EQ(Call(file, &texture), S_OK);
  EXPECT_EQ(calls.size(), 1u);
  EXPECT_EQ(PreLoadCalls(texture), 1);
  texture->Release();

  // Without D3DX9_43 the plain function gets the call at once; so do other
  // refused formats.
  CreateTextureFromFileInMemoryExSite = nullptr;
  for (const auto& refused : {file, MakeDds({A8R8G8B8PixelFormat(), 64, 64, 1})}) {
    calls.clear();
    ASSERT_EQ(Call(refused, &texture), S_OK);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_FALSE(calls[0].ex);
    texture->Release();
  }
}

// Truncations and bit flips of valid files, each against a guard page,
// through both replacements and every load path: a direct texture, or D3DX
// called with the caller's own bytes; no texture left behind.
TEST_F(HookDecisions, DamagedFilesLoadDirectlyOrReachD3DXUnchanged) {
  const DdsPixelFormat l8 = {32, kDdpfLuminance, 0, 8, 0xFF, 0, 0, 0};
  const std::vector<std::vector<uint8_t>> files = {
      MakeDdsWithMips(Dxt1PixelFormat(), 32, 32),
      MakeDdsWithMips(A8R8G8B8PixelFormat(), 8, 8),
      MakeDds({R8G8B8PixelFormat(), 8, 4, 0}),
      MakeDdsWithMips(l8, 5, 5),
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
        Args a;
        a.pool = random() % 2 ? D3DPOOL_MANAGED : D3DPOOL_DEFAULT;
        ASSERT_EQ(plain ? Call(bytes, &texture) : CallEx(bytes, a, &texture), S_OK);
        ASSERT_NE(texture, nullptr);
        for (const Args& call : calls) {
          ASSERT_EQ(std::make_tuple(call.data, call.size, call.out),
                    std::make_tuple(static_cast<LPCVOID>(buffer_->data()), static_cast<UINT>(bytes.size()),
                                    &texture));
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

}  // namespace
