// The checker's verdicts against the redirected call with Wine's device and
// D3DX, for every sample file and call it can express; the Windows checker
// on names outside ASCII.

#include <gtest/gtest.h>
#include <process.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "d3d_support.h"
#include "dds_builder.h"
#include "dds_samples.h"
#include "textures/texture_hooks.h"
#include "textures/texture_sites.h"

namespace {

// Every argument the checker has an option for, one change at a time.
std::vector<DdsCall> Calls() {
  std::vector<DdsCall> calls(10);
  for (size_t i = 1; i < calls.size(); ++i) calls[i].ex = true;
  calls[2].pool = 0;
  calls[3].mipFilter = 1u << 26;
  calls[4].mipFilter = (2u << 26) | D3DX_FILTER_BOX;
  calls[4].pool = 0;
  calls[5].colorKey = 0xFF000000;
  calls[6].width = calls[6].height = calls[6].mipLevels = 0;
  calls[7].usage = D3DUSAGE_DYNAMIC;
  calls[8].format = D3DFMT_A8R8G8B8;
  calls[9].width = calls[9].height = D3DX_DEFAULT_NONPOW2;
  return calls;
}

TEST(DdsCheckOnDevice, VerdictsAreWhatTheRedirectedCallDoes) {
  IDirect3DDevice9* device = TestDevice();
  ASSERT_NE(device, nullptr) << "no Direct3D device";
  WatchTextures();
  CreateTextureFromFileInMemorySite = reinterpret_cast<PatchSite>(
      GetProcAddress(LoadLibraryA("d3dx9_42.dll"), "D3DXCreateTextureFromFileInMemory"));
  CreateTextureFromFileInMemoryExSite = reinterpret_cast<PatchSite>(
      GetProcAddress(LoadLibraryA("d3dx9_43.dll"), "D3DXCreateTextureFromFileInMemoryEx"));
  ASSERT_TRUE(CreateTextureFromFileInMemorySite != nullptr && CreateTextureFromFileInMemoryExSite != nullptr);

  int served = 0, leftToD3dx = 0;
  const std::vector<DdsCall> calls = Calls();
  for (const DdsSample& sample : DdsSamples()) {
    // Not against a guard page: Wine's D3DX reads past the end of some
    // damaged files.
    const std::vector<uint8_t>& file = sample.bytes;
    const auto size = static_cast<UINT>(file.size());
    for (const DdsCall& call : calls) {
      const DdsVerdict verdict = JudgeDds(file.data(), size, call);
      const std::string what =
          sample.name + ", call " + std::to_string(&call - &calls[0]) + ": " + DdsReasonName(verdict.reason);
      const auto made = [] {
        return std::make_pair(TexturesCreatedBy(nullptr), TexturesCreatedBy("d3dx9_43.dll"));
      };
      const auto before = made();
      IDirect3DTexture9* texture = nullptr;
      const HRESULT hr =
          call.ex ? FastCreateTextureFromFileInMemoryEx(
                        device, file.data(), size, call.width, call.height, call.mipLevels, call.usage,
                        static_cast<D3DFORMAT>(call.format), static_cast<D3DPOOL>(call.pool), D3DX_DEFAULT,
                        call.mipFilter, call.colorKey, nullptr, nullptr, &texture)
                  : FastCreateTextureFromFileInMemory(device, file.data(), size, &texture);
      const bool byPath = made().first > before.first, byD3dx = made().second > before.second;
      const bool expected = IsServed(verdict.reason);
      EXPECT_EQ(byPath, expected) << what;
      EXPECT_TRUE(!expected || (hr == S_OK && !byD3dx)) << what;
      if (expected && hr == S_OK) {
        const D3DSURFACE_DESC desc = LevelDesc(texture, 0);
        EXPECT_EQ(std::make_tuple(static_cast<uint32_t>(desc.Format), desc.Width, desc.Height,
                                  static_cast<uint32_t>(texture->GetLevelCount())),
                  std::make_tuple(verdict.textureFormat, verdict.textureWidth, verdict.textureHeight,
                                  verdict.textureLevels))
            << what;
      }
      (expected ? served : leftToD3dx) += 1;
      if (texture != nullptr) texture->Release();
    }
  }
  EXPECT_GT(served, 50);
  EXPECT_GT(leftToD3dx, 200);
}

// The checker's exit status for `arguments`.
intptr_t RunChecker(std::initializer_list<std::wstring> arguments) {
  std::wstring exe = std::filesystem::path(QUELBRAND_DDSCHECK).wstring();
  if (exe[0] == L'/') exe = L"Z:" + exe;  // a Unix path under Wine
  std::vector<std::wstring> quoted;
  for (const std::wstring& argument : arguments) quoted.push_back(L"\"" + argument + L"\"");
  std::vector<const wchar_t*> argv = {exe.c_str()};
  for (const std::wstring& argument : quoted) argv.push_back(argument.c_str());
  argv.push_back(nullptr);
  return _wspawnv(_P_WAIT, exe.c_str(), argv.data());
}

TEST(DdsCheckProgram, JudgesNamesOutsideAsciiAndAnswersHelp) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / L"ddscheck-\u00dcbersicht";
  const fs::path folderFile = root / L"Texturen" / L"caf\u00e9.dds", named = root / L"J\u00fcrgen.dds";
  fs::create_directories(folderFile.parent_path());
  const std::vector<uint8_t> bytes = MakeDdsWithMips(Dxt1PixelFormat(), 8, 8);
  for (const fs::path& path : {folderFile, named}) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }
  // 0: both read, the folder's file found; the --help answer goes to stdout.
  EXPECT_EQ(RunChecker({folderFile.parent_path().wstring(), named.wstring()}), 0);
  EXPECT_EQ(RunChecker({L"--help"}), 0);
  fs::remove_all(root);
}

}  // namespace
