// The checker against what actually happens on Wine's Direct3D device with
// its D3DX: for every sample file and every call the checker can express,
// the plug-in's redirected function serves exactly the files the checker
// calls served, without D3DX, in the format, size and level count it names;
// every other call reaches D3DX. And the Windows checker itself, run on
// names outside ASCII.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "d3d_support.h"
#include "dds_builder.h"
#include "dds_samples.h"
#include "textures/texture_hooks.h"
#include "textures/texture_sites.h"

namespace {

using Create = decltype(&FastCreateTextureFromFileInMemory);
using CreateEx = decltype(&FastCreateTextureFromFileInMemoryEx);
Create d3dxCreate;
CreateEx d3dxCreateEx;
int d3dxCalls = 0;

HRESULT WINAPI CountedCreate(IDirect3DDevice9* device, LPCVOID data, UINT size, IDirect3DTexture9** out) {
  ++d3dxCalls;
  return d3dxCreate(device, data, size, out);
}

HRESULT WINAPI CountedCreateEx(IDirect3DDevice9* d, LPCVOID data, UINT size, UINT w, UINT h, UINT levels,
                               DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter, DWORD mipFilter,
                               D3DCOLOR key, D3DXIMAGE_INFO* info, PALETTEENTRY* palette,
                               IDirect3DTexture9** out) {
  ++d3dxCalls;
  return d3dxCreateEx(d, data, size, w, h, levels, usage, format, pool, filter, mipFilter, key, info, palette,
                      out);
}

// Every argument the checker has an option for, one change at a time.
std::vector<DdsCall> Calls() {
  std::vector<DdsCall> calls(9);
  for (size_t i = 1; i < calls.size(); ++i) calls[i].ex = true;
  calls[2].pool = 0;
  calls[3].mipFilter = 1u << 26;
  calls[4].mipFilter = (2u << 26) | D3DX_FILTER_BOX;
  calls[4].pool = 0;
  calls[5].colorKey = 0xFF000000;
  calls[6].width = calls[6].height = calls[6].mipLevels = 0;
  calls[7].usage = D3DUSAGE_DYNAMIC;
  calls[8].format = D3DFMT_A8R8G8B8;
  return calls;
}

TEST(DdsCheckOnDevice, VerdictsAreWhatTheRedirectedCallDoes) {
  IDirect3DDevice9* device = TestDevice();
  ASSERT_NE(device, nullptr) << "no Direct3D device";
  d3dxCreate = reinterpret_cast<Create>(reinterpret_cast<void*>(
      GetProcAddress(LoadLibraryA("d3dx9_42.dll"), "D3DXCreateTextureFromFileInMemory")));
  d3dxCreateEx = reinterpret_cast<CreateEx>(reinterpret_cast<void*>(
      GetProcAddress(LoadLibraryA("d3dx9_43.dll"), "D3DXCreateTextureFromFileInMemoryEx")));
  ASSERT_TRUE(d3dxCreate != nullptr && d3dxCreateEx != nullptr);
  CreateTextureFromFileInMemorySite = reinterpret_cast<PatchSite>(CountedCreate);
  CreateTextureFromFileInMemoryExSite = reinterpret_cast<PatchSite>(CountedCreateEx);

  int served = 0, leftToD3dx = 0;
  for (const DdsSample& sample : DdsSamples()) {
    // Not against a guard page: Wine's D3DX reads past the end of some
    // damaged files.
    const std::vector<uint8_t>& file = sample.bytes;
    const auto size = static_cast<UINT>(file.size());
    for (const DdsCall& call : Calls()) {
      const DdsVerdict verdict = JudgeDds(file.data(), size, call);
      const std::string what = sample.name + (call.ex ? " Ex, pool " + std::to_string(call.pool) : " plain") +
                               ", mip filter " + std::to_string(call.mipFilter) + ": " +
                               DdsReasonName(verdict.reason);
      d3dxCalls = 0;
      IDirect3DTexture9* texture = nullptr;
      PALETTEENTRY palette[256] = {};
      const HRESULT hr =
          call.ex ? FastCreateTextureFromFileInMemoryEx(
                        device, file.data(), size, call.width, call.height, call.mipLevels, call.usage,
                        static_cast<D3DFORMAT>(call.format), static_cast<D3DPOOL>(call.pool), D3DX_DEFAULT,
                        call.mipFilter, call.colorKey, nullptr, call.palette ? palette : nullptr, &texture)
                  : FastCreateTextureFromFileInMemory(device, file.data(), size, &texture);
      if (!IsServed(verdict.reason)) {
        EXPECT_GT(d3dxCalls, 0) << what;
        ++leftToD3dx;
      } else {
        EXPECT_EQ(std::make_pair(hr, d3dxCalls), std::make_pair(S_OK, 0)) << what;
        if (hr != S_OK) continue;
        const D3DSURFACE_DESC desc = LevelDesc(texture, 0);
        EXPECT_EQ(std::make_tuple(static_cast<uint32_t>(desc.Format), desc.Width, desc.Height,
                                  static_cast<uint32_t>(texture->GetLevelCount())),
                  std::make_tuple(verdict.textureFormat, verdict.textureWidth, verdict.textureHeight,
                                  verdict.textureLevels))
            << what;
        ++served;
      }
      if (texture != nullptr) texture->Release();
    }
  }
  EXPECT_GT(served, 50);
  EXPECT_GT(leftToD3dx, 200);
}

// Runs the checker with `arguments`; its exit status, stdout in `output`.
DWORD RunChecker(const std::wstring& arguments, std::string* output) {
  std::wstring exe = std::filesystem::path(QUELBRAND_DDSCHECK).wstring();
  if (exe[0] == L'/') exe = L"Z:" + exe;  // a Unix path under Wine
  std::wstring line = L"\"" + exe + L"\" " + arguments;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE readEnd, writeEnd;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return ~0u;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = writeEnd;
  PROCESS_INFORMATION process = {};
  DWORD status = ~0u;
  if (CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    CloseHandle(writeEnd);
    writeEnd = nullptr;
    char buffer[4096];
    DWORD got;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got != 0) output->append(buffer, got);
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  if (writeEnd != nullptr) CloseHandle(writeEnd);
  CloseHandle(readEnd);
  return status;
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
  std::string output;
  EXPECT_EQ(
      RunChecker(L"\"" + folderFile.parent_path().wstring() + L"\" \"" + named.wstring() + L"\"", &output),
      0u)
      << output;
  for (const fs::path& path : {folderFile, named}) {
    EXPECT_NE(output.find(path.filename().u8string() + ": served as DXT1 8x8"), std::string::npos) << output;
  }
  output.clear();
  EXPECT_EQ(RunChecker(L"--help", &output), 0u);
  EXPECT_EQ(output.rfind("usage: quelbrand-ddscheck", 0), 0u) << output;
  fs::remove_all(root);
}

}  // namespace
