// Every single-bit flip of a stored cache entry, each met by a fresh process:
// the child creates the entry's effect through CacheCreateEffect on a real
// device and reports by its exit code whether it got the right effect; the
// parent then requires that no damaged entry is left (the entry is gone or
// whole again). Misses compile with the tests' stand-in compiler. Too slow
// for the test suite (a process per flip, some minutes);
// "cache_flip_bench FIRST COUNT" sweeps COUNT bits from bit FIRST.

#include <d3d9.h>
#include <d3dx9effect.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "../tests/shadercache/test_effect.h"
#include "../tests/textures/d3d_support.h"
#include "shadercache/cache_entry.h"
#include "shadercache/cache_files.h"
#include "shadercache/shader_cache.h"

namespace {

constexpr char kSource[] = "value=5";
constexpr float kValue = 5;
constexpr DWORD kChildMilliseconds = 60000;
enum ChildExit : DWORD { kRight = 0, kWrongEffect = 3, kFailed = 4, kNoDevice = 5 };

std::wstring EntryName() { return MakeCacheName(kSource, sizeof kSource - 1, nullptr); }

DWORD Child() {
  std::string compiler = STANDIN_COMPILER_PATH;
  if (compiler[0] == '/') compiler = "Z:" + compiler;  // a Unix path seen from Wine
  LoadLibraryA(compiler.c_str());
  IDirect3DDevice9* device = TestDevice();
  CreateEffectSite = reinterpret_cast<PatchSite>(
      reinterpret_cast<void*>(GetProcAddress(LoadLibraryA("d3dx9_43.dll"), "D3DXCreateEffect")));
  InitShaderCacheDir();
  if (device == nullptr || CreateEffectSite == nullptr) return kNoDevice;
  ID3DXEffect* effect = nullptr;
  if (FAILED(CacheCreateEffect(device, kSource, sizeof kSource - 1, nullptr, nullptr, 0, nullptr, &effect,
                               nullptr)))
    return kFailed;
  float value = -1;
  effect->GetFloat("value", &value);
  effect->Release();
  return value == kValue ? kRight : kWrongEffect;
}

// The child's exit code, or WAIT_TIMEOUT when it had to be killed.
DWORD RunChild() {
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string command = std::string("\"") + self + "\" child";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child = {};
  if (!CreateProcessA(self, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child))
    return GetLastError();
  DWORD code = WAIT_TIMEOUT;
  if (WaitForSingleObject(child.hProcess, kChildMilliseconds) == WAIT_OBJECT_0)
    GetExitCodeProcess(child.hProcess, &code);
  else
    TerminateProcess(child.hProcess, WAIT_TIMEOUT);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  return code;
}

std::string ReadEntry(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "child") == 0) return static_cast<int>(Child());
  InitShaderCacheDir();
  // Wine prefers its own compiler unless told otherwise.
  SetEnvironmentVariableA("WINEDLLOVERRIDES", "d3dcompiler_47=n");
  const std::string entry = MakeCacheEntry(testeffect::CompiledEffect(kValue));
  const size_t bits = entry.size() * 8;
  const size_t first = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 0;
  const size_t count = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : bits;
  const std::wstring path = ShaderCacheDir + L"/" + EntryName();
  int wrong = 0, failed = 0, crashed = 0, hung = 0, kept = 0;
  for (size_t bit = first; bit < bits && bit < first + count; ++bit) {
    std::string flipped = entry;
    flipped[bit / 8] = static_cast<char>(flipped[bit / 8] ^ (1 << (bit % 8)));
    WriteCacheFile(EntryName(), flipped);
    const DWORD code = RunChild();
    const std::string after = ReadEntry(path);
    const bool damagedLeft = !after.empty() && after != entry;
    wrong += code == kWrongEffect, failed += code == kFailed, hung += code == WAIT_TIMEOUT,
        kept += damagedLeft;
    crashed += code != kRight && code != kWrongEffect && code != kFailed && code != WAIT_TIMEOUT;
    if (code != kRight || damagedLeft)
      std::printf("byte %zu bit %zu: exit %08lX%s\n", bit / 8, bit % 8, code,
                  damagedLeft ? ", damaged entry left" : "");
    DeleteFileW(path.c_str());
  }
  std::printf(
      "%zu flips of a %zu-byte entry: %d wrong effects, %d failures, %d crashes, %d hangs, %d damaged "
      "entries left\n",
      std::min(count, bits - first), entry.size(), wrong, failed, crashed, hung, kept);
  return wrong + failed + crashed + hung + kept == 0 ? 0 : 1;
}
