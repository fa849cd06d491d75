// The three load paths on a real device: the file's bytes land in the
// texture level by level, 24-bit files are widened, refusals and damaged
// files leave no texture behind and never read past the file.

#include "textures/texture_load.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "d3d_support.h"
#include "dds_builder.h"
#include "guarded_buffer.h"
#include "textures/dds_format.h"
#include "textures/expand_rgb.h"

namespace {

using Loader = HRESULT (*)(IDirect3DDevice9*, const DdsHeader&, const uint8_t*, uint32_t, D3DPOOL,
                           IDirect3DTexture9**);

IDirect3DTexture9* const kUntouched = reinterpret_cast<IDirect3DTexture9*>(0x5EED);

class TextureLoad : public ::testing::Test {
 protected:
  void SetUp() override {
    device_ = TestDevice();
    ASSERT_NE(device_, nullptr) << "no Direct3D device";
    baseline_ = References(device_);
  }
  // Every texture made by a test has been released: the device is back to
  // the references it had.
  void TearDown() override {
    if (device_ != nullptr) {
      EXPECT_EQ(References(device_), baseline_);
    }
  }

  // Loads `bytes` (placed against a guard page) with `loader`.
  HRESULT Load(Loader loader, const std::vector<uint8_t>& bytes, D3DPOOL pool, IDirect3DTexture9** texture) {
    buffer_ = std::make_unique<GuardedBuffer>(bytes.size());
    std::memcpy(buffer_->data(), bytes.data(), bytes.size());
    DdsFile file;
    if (!ParseDdsHeader(buffer_->data(), static_cast<uint32_t>(bytes.size()), &file)) return E_INVALIDARG;
    return loader(device_, file.header, file.pixels, file.pixelBytes, pool, texture);
  }

  // A refusal: a failure code, the out pointer untouched, nothing kept.
  void ExpectRefused(Loader loader, const std::vector<uint8_t>& bytes, D3DPOOL pool,
                     const std::string& what) {
    IDirect3DTexture9* texture = kUntouched;
    const ULONG before = References(device_);
    EXPECT_NE(Load(loader, bytes, pool, &texture), S_OK) << what;
    EXPECT_EQ(texture, kUntouched) << what;
    EXPECT_EQ(References(device_), before) << what;
  }

  IDirect3DDevice9* device_ = nullptr;
  ULONG baseline_ = 0;
  std::unique_ptr<GuardedBuffer> buffer_;
};

std::vector<uint8_t> FileLevel(const std::vector<uint8_t>& file, const DdsLayout& layout, uint32_t level) {
  const LevelSpan span = LevelOf(layout, level);
  return {file.begin() + static_cast<ptrdiff_t>(span.offset),
          file.begin() + static_cast<ptrdiff_t>(span.offset + span.size.bytes)};
}

std::vector<uint8_t> Widened(const std::vector<uint8_t>& rgb) {
  std::vector<uint8_t> out(rgb.size() / 3 * 4);
  ExpandRgbRowSse2(out.data(), rgb.data(), static_cast<uint32_t>(rgb.size() / 3));
  return out;
}

DdsLayout FullChain(DdsPixelFormat pixelFormat, uint32_t width, uint32_t height) {
  return {pixelFormat, width, height, FullChainLevelCount(width, height), 0, 0x1007, width * 31 + height};
}

TEST_F(TextureLoad, AllLevelsArriveAsTheFileHoldsThem) {
  const DdsPixelFormat l8 = {32, kDdpfLuminance, 0, 8, 0xFF, 0, 0, 0};
  const DdsLayout layouts[] = {
      FullChain(Dxt1PixelFormat(), 256, 256),
      FullChain(Dxt5PixelFormat(), 64, 32),
      FullChain(Dxt1PixelFormat(), 12, 12),
      FullChain(A8R8G8B8PixelFormat(), 16, 16),
      FullChain(X8R8G8B8PixelFormat(), 600, 520),  // levels split into pieces
      FullChain(l8, 130, 130),                     // pitch above the row: rows split
      FullChain(RgbPixelFormat(16, 0xF800, 0x7E0, 0x1F, 0), 8, 4),
      {A8R8G8B8PixelFormat(), 1, 1, 0},
      {A8R8G8B8PixelFormat(), 1, 1, 1},
  };
  for (const DdsLayout& layout : layouts) {
    const std::vector<uint8_t> file = MakeDds(layout);
    const std::string what = std::to_string(layout.width) + "x" + std::to_string(layout.height) + " format " +
                             std::to_string(FormatFromPixelFormat(layout.pixelFormat));
    IDirect3DTexture9 *managed = nullptr, *placed = nullptr;
    ASSERT_EQ(Load(LoadAllLevels, file, D3DPOOL_MANAGED, &managed), S_OK) << what;
    ASSERT_EQ(Load(LoadAllLevels, file, D3DPOOL_DEFAULT, &placed), S_OK) << what;
    const uint32_t levels = layout.mipMapCount == 0 ? 1 : layout.mipMapCount;
    ASSERT_EQ(managed->GetLevelCount(), levels) << what;
    ASSERT_EQ(placed->GetLevelCount(), levels) << what;
    for (uint32_t level = 0; level < levels; ++level) {
      const D3DSURFACE_DESC desc = LevelDesc(managed, level);
      EXPECT_EQ(static_cast<uint32_t>(desc.Format), FormatFromPixelFormat(layout.pixelFormat)) << what;
      EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
      EXPECT_EQ(desc.Width, LevelExtent(layout.width, level)) << what;
      EXPECT_EQ(desc.Height, LevelExtent(layout.height, level)) << what;
      EXPECT_EQ(LevelBytes(managed, level), FileLevel(file, layout, level)) << what << " level " << level;
      EXPECT_EQ(LevelDesc(placed, level).Pool, D3DPOOL_DEFAULT);
      // A standalone copy of a compressed level needs whole blocks.
      const bool copyable = !IsBlockCompressed(desc.Format) || (desc.Width % 4 == 0 && desc.Height % 4 == 0);
      if (level < 3 && copyable) {
        EXPECT_EQ(RenderedLevel(placed, level), RenderedLevel(managed, level)) << what;
      }
    }
    EXPECT_EQ(managed->Release(), 0u) << what;
    EXPECT_EQ(placed->Release(), 0u) << what;
  }
}

TEST_F(TextureLoad, FilesWithoutTheDevicesChainOrItsBytesAreRefused) {
  const DdsLayout single = {Dxt1PixelFormat(), 256, 256, 1};
  ExpectRefused(LoadAllLevels, MakeDds(single), D3DPOOL_MANAGED, "one level of nine");
  std::vector<uint8_t> tooMany = MakeDdsWithMips(Dxt1PixelFormat(), 256, 256);
  tooMany.resize(tooMany.size() + 64);
  const uint32_t ten = 10;
  std::memcpy(tooMany.data() + 28, &ten, 4);
  ExpectRefused(LoadAllLevels, tooMany, D3DPOOL_MANAGED, "ten levels of nine");
  std::vector<uint8_t> shortFile = MakeDdsWithMips(Dxt1PixelFormat(), 256, 256);
  shortFile.pop_back();
  ExpectRefused(LoadAllLevels, shortFile, D3DPOOL_MANAGED, "one byte short");
  ExpectRefused(LoadAllLevels, shortFile, D3DPOOL_DEFAULT, "one byte short, default pool");

  const std::vector<uint8_t> good = MakeDdsWithMips(A8R8G8B8PixelFormat(), 8, 8);
  ExpectRefused(LoadAllLevels, good, D3DPOOL_SYSTEMMEM, "system memory pool");
  ExpectRefused(LoadAllLevels, good, D3DPOOL_SCRATCH, "scratch pool");
  ExpectRefused(LoadAllLevels, MakeDds({FourCcPixelFormat(kFourCcDx10), 4, 4, 1}), D3DPOOL_MANAGED, "DX10");
  ExpectRefused(LoadAllLevels, MakeDds({A8R8G8B8PixelFormat(), 0, 4, 1}), D3DPOOL_MANAGED, "zero width");
  ExpectRefused(LoadAllLevels, MakeDds({A8R8G8B8PixelFormat(), 4, 0, 1}), D3DPOOL_MANAGED, "zero height");
  std::vector<uint8_t> huge = good;
  const uint32_t side = 0x10000;
  std::memcpy(huge.data() + 12, &side, 4);
  std::memcpy(huge.data() + 16, &side, 4);
  ExpectRefused(LoadAllLevels, huge, D3DPOOL_MANAGED, "header larger than the data");
}

TEST_F(TextureLoad, TwentyFourBitFilesAreWidenedAndTheirMipsGenerated) {
  const DdsLayout layouts[] = {
      {R8G8B8PixelFormat(), 5, 3, 0}, FullChain(R8G8B8PixelFormat(), 300, 130),  // rows split
  };
  for (const DdsLayout& layout : layouts) {
    const std::vector<uint8_t> file = MakeDds(layout);
    const std::vector<uint8_t> expected = Widened(FileLevel(file, layout, 0));
    for (D3DPOOL pool : {D3DPOOL_MANAGED, D3DPOOL_DEFAULT}) {
      IDirect3DTexture9* texture = nullptr;
      ASSERT_EQ(Load(LoadAllLevels, file, pool, &texture), S_OK) << layout.width << " pool " << pool;
      const D3DSURFACE_DESC desc = LevelDesc(texture, 0);
      EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8);
      EXPECT_EQ(desc.Pool, pool);
      EXPECT_EQ(desc.Usage & D3DUSAGE_AUTOGENMIPMAP, static_cast<DWORD>(D3DUSAGE_AUTOGENMIPMAP));
      EXPECT_EQ(desc.Width, layout.width);
      EXPECT_EQ(pool == D3DPOOL_MANAGED ? LevelBytes(texture, 0) : RenderedLevel(texture, 0), expected)
          << layout.width << " pool " << pool;
      EXPECT_EQ(texture->Release(), 0u);
    }
  }
  // Only level 0 is read: a file cut behind it still loads.
  const DdsLayout chain = FullChain(R8G8B8PixelFormat(), 64, 64);
  std::vector<uint8_t> cut = MakeDds(chain);
  cut.resize(LevelOf(chain, 1).offset);
  IDirect3DTexture9* texture = nullptr;
  ASSERT_EQ(Load(LoadRgb24Expanded, cut, D3DPOOL_MANAGED, &texture), S_OK);
  EXPECT_EQ(LevelBytes(texture, 0), Widened(FileLevel(cut, chain, 0)));
  texture->Release();
  cut.pop_back();
  IDirect3DTexture9* untouched = kUntouched;
  EXPECT_EQ(Load(LoadRgb24Expanded, cut, D3DPOOL_MANAGED, &untouched), static_cast<HRESULT>(0xFFFFFFFF));
  EXPECT_EQ(untouched, kUntouched);
  ExpectRefused(LoadAllLevels, cut, D3DPOOL_DEFAULT, "24-bit level 0 one byte short");
}

TEST_F(TextureLoad, DeviceConversionOfCompressedFilesGivesTheDecodedPixelsOrNothing) {
  const DdsLayout layout = {Dxt5PixelFormat(), 64, 64, 1};
  const std::vector<uint8_t> file = MakeDds(layout);
  ExpectRefused(LoadBlockCompressedConverted, file, D3DPOOL_MANAGED, "managed pool");
  std::vector<uint8_t> shortFile = file;
  shortFile.pop_back();
  ExpectRefused(LoadBlockCompressedConverted, shortFile, D3DPOOL_DEFAULT, "one byte short");

  IDirect3DTexture9* converted = kUntouched;
  const HRESULT hr = Load(LoadBlockCompressedConverted, file, D3DPOOL_DEFAULT, &converted);
  if (hr != S_OK) {
    // A device that will not convert (StretchRect into a texture that is not
    // a render target) refuses cleanly; the caller then asks D3DX.
    EXPECT_EQ(converted, kUntouched);
    return;
  }
  IDirect3DTexture9* original = nullptr;
  ASSERT_EQ(device_->CreateTexture(64, 64, 1, 0, D3DFMT_DXT5, D3DPOOL_MANAGED, &original, nullptr), S_OK);
  D3DLOCKED_RECT locked;
  ASSERT_EQ(original->LockRect(0, &locked, nullptr, 0), S_OK);
  std::memcpy(locked.pBits, file.data() + 128, 64 * 64);
  original->UnlockRect(0);
  EXPECT_EQ(LevelDesc(converted, 0).Format, D3DFMT_A8R8G8B8);
  EXPECT_EQ(RenderedLevel(converted, 0), RenderedLevel(original, 0));
  original->Release();
  converted->Release();
}

// Truncations and bit flips of valid files, each against a guard page, through
// every load path: a texture or a failure, never a read past the file or a
// texture left behind.
TEST_F(TextureLoad, DamagedFilesLoadOrFailCleanly) {
  const DdsPixelFormat l8 = {32, kDdpfLuminance, 0, 8, 0xFF, 0, 0, 0};
  const std::vector<std::vector<uint8_t>> files = {
      MakeDdsWithMips(Dxt1PixelFormat(), 32, 32),
      MakeDdsWithMips(A8R8G8B8PixelFormat(), 8, 8),
      MakeDds({R8G8B8PixelFormat(), 8, 4, 0}),
      MakeDdsWithMips(l8, 5, 5),
  };
  std::mt19937 random(11);
  int served = 0, refused = 0;
  for (const auto& original : files) {
    std::vector<std::vector<uint8_t>> variants;
    for (size_t length = 120; length < original.size(); length += 1 + length / 24) {
      variants.emplace_back(original.begin(), original.begin() + static_cast<ptrdiff_t>(length));
    }
    for (int flips = 0; flips < 150; ++flips) {
      std::vector<uint8_t> damaged = original;
      damaged[4 + random() % 124] ^= static_cast<uint8_t>(1u << (random() % 8));
      if (flips % 2 == 0) damaged.resize(damaged.size() - random() % 16);
      variants.push_back(std::move(damaged));
    }
    for (const auto& bytes : variants) {
      for (auto [loader, pool] : {std::pair<Loader, D3DPOOL>{LoadAllLevels, D3DPOOL_MANAGED},
                                  {LoadAllLevels, D3DPOOL_DEFAULT},
                                  {LoadBlockCompressedConverted, D3DPOOL_DEFAULT}}) {
        IDirect3DTexture9* texture = kUntouched;
        if (Load(loader, bytes, pool, &texture) == S_OK) {
          ++served;
          ASSERT_NE(texture, kUntouched);
          ASSERT_GE(texture->GetLevelCount(), 1u);
          ASSERT_EQ(texture->Release(), 0u);
        } else {
          ++refused;
          ASSERT_EQ(texture, kUntouched);
        }
        ASSERT_EQ(References(device_), baseline_);
      }
    }
  }
  EXPECT_GT(served, 50);
  EXPECT_GT(refused, 500);
}

}  // namespace
