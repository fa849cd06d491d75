// The shader cache through the real plug-in: Wine's D3DX9_43 on a real
// device, with the stand-in compiler (standin_compiler.h) behind both D3DX
// and the plug-in. A compile with a null source name is D3DX's own; the
// plug-in names its source "".

#include <d3d9.h>
#include <d3dx9effect.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "shadercache/cache_entry.h"
#include "shadercache/cache_key.h"
#include "standin/standin.h"
#include "standin_compiler.h"
#include "test_effect.h"

namespace {

using Lines = std::vector<std::string>;
using CreateEffectFunction = decltype(&D3DXCreateEffect);
using CreateFromFileFunction = decltype(&D3DXCreateEffectFromFileA);

constexpr char kCacheOn[] = "[Optimize]\nUseShaderCache=1\n";
// Its compiled object holds the bytes 1A 0D 0A, which text mode would change.
constexpr char kSource[] = "value=2.1570497";
constexpr float kValue = 2.1570497f;

struct Outcome {
  HRESULT result;
  float value;  // the effect's "value", -1 without an effect
  std::string errors;
  bool operator==(const Outcome& o) const {
    return result == o.result && value == o.value && errors == o.errors;
  }
};
std::ostream& operator<<(std::ostream& out, const Outcome& o) {
  return out << std::hex << o.result << std::dec << " value " << o.value << " errors '" << o.errors << "'";
}
Outcome Made(float value) { return {S_OK, value, ""}; }

template <typename Function>
Function Export(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

std::string Name(const std::string& source, const D3DXMACRO* macros = nullptr) {
  const std::wstring name = MakeCacheName(source.data(), static_cast<uint32_t>(source.size()),
                                          reinterpret_cast<const EffectMacro*>(macros));
  return std::string(name.begin(), name.end());
}

std::string CacheFolder() { return standin::GameFolder() + "\\data\\skse\\shader caches"; }
std::string CacheFile(const std::string& source) { return CacheFolder() + "\\" + Name(source); }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

Lines CacheFiles() {
  Lines names;
  std::error_code missing;
  for (const auto& entry : std::filesystem::directory_iterator(CacheFolder(), missing))
    names.push_back(entry.path().filename().string());
  return names;
}

Lines Log(size_t from = 0) {
  Lines lines;
  for (const auto& line : standin::ReadLogLines()) lines.push_back(standin::WithoutTime(line));
  lines.erase(lines.begin(), lines.begin() + static_cast<ptrdiff_t>(std::min(from, lines.size())));
  return lines;
}

class ShaderCache : public testing::Test {
 protected:
  void SetUp() override {
    std::string path = compilerPath_;
    if (path[0] == '/') path = "Z:" + path;  // a Unix path seen from Wine
    HMODULE compiler = LoadLibraryA(path.c_str());
    ASSERT_EQ(GetModuleHandleA("d3dcompiler_47.dll"), compiler) << "Wine's own compiler is in the way";
    compiler_ = Export<StandinCompilerStateFunction>(compiler, "StandinCompilerState");
    HMODULE d3dx = LoadLibraryA("d3dx9_43.dll");
    create_ = Export<CreateEffectFunction>(d3dx, "D3DXCreateEffect");
    fromFile_ = Export<CreateFromFileFunction>(d3dx, "D3DXCreateEffectFromFileA");
    exports_ = ExportBytes();

    HWND window =
        CreateWindowA("STATIC", "", WS_OVERLAPPEDWINDOW, 0, 0, 64, 64, nullptr, nullptr, nullptr, nullptr);
    d3d_ = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(d3d_, nullptr);
    D3DPRESENT_PARAMETERS present = {};
    present.Windowed = TRUE;
    present.SwapEffect = D3DSWAPEFFECT_DISCARD;
    ASSERT_EQ(d3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window,
                                 D3DCREATE_SOFTWARE_VERTEXPROCESSING, &present, &device_),
              D3D_OK);
  }

  void TearDown() override {
    host_.Unload();
    if (device_ != nullptr) device_->Release();
    if (d3d_ != nullptr) d3d_->Release();
  }

  void Start(const char* settings) {
    standin::WriteSettings(settings);
    ASSERT_TRUE(host_.LoadPlugin() && host_.Query() && host_.Load());
    logStart_ = Log().size();
  }

  std::vector<uint8_t> ExportBytes() const {
    auto create = reinterpret_cast<const uint8_t*>(create_),
         fromFile = reinterpret_cast<const uint8_t*>(fromFile_);
    std::vector<uint8_t> bytes(create, create + 8);
    bytes.insert(bytes.end(), fromFile, fromFile + 8);
    return bytes;
  }

  static Outcome Finish(HRESULT result, ID3DXEffect* effect, ID3DXBuffer* errors) {
    Outcome outcome = {result, -1, ""};
    if (effect != nullptr) {
      effect->GetFloat("value", &outcome.value);
      effect->Release();
    }
    if (errors != nullptr) {
      outcome.errors = static_cast<const char*>(errors->GetBufferPointer());
      errors->Release();
    }
    return outcome;
  }

  Outcome Create(const void* source, UINT length, const D3DXMACRO* macros = nullptr, DWORD flags = 0,
                 ID3DXInclude* include = nullptr, bool errorSlot = true) {
    ID3DXEffect* effect = nullptr;
    ID3DXBuffer* errors = nullptr;
    const HRESULT result = create_(device_, source, length, macros, include, flags, nullptr, &effect,
                                   errorSlot ? &errors : nullptr);
    return Finish(result, effect, errors);
  }
  Outcome Create(const std::string& source, const D3DXMACRO* macros = nullptr, DWORD flags = 0) {
    return Create(source.data(), static_cast<UINT>(source.size()), macros, flags);
  }

  Outcome CreateFromFile(const char* name) {
    ID3DXEffect* effect = nullptr;
    ID3DXBuffer* errors = nullptr;
    const HRESULT result = fromFile_(device_, name, nullptr, nullptr, 0, nullptr, &effect, &errors);
    return Finish(result, effect, errors);
  }

  const StandinCompilerRecord& Compiler() const { return *compiler_(); }
  const StandinCompileCall& Compile(int index) const { return compiler_()->history[index]; }

  const char* compilerPath_ = STANDIN_COMPILER_PATH;
  standin::Host host_;
  StandinCompilerStateFunction compiler_ = nullptr;
  CreateEffectFunction create_ = nullptr;
  CreateFromFileFunction fromFile_ = nullptr;
  std::vector<uint8_t> exports_;
  IDirect3D9* d3d_ = nullptr;
  IDirect3DDevice9* device_ = nullptr;
  size_t logStart_ = 0;
};

TEST_F(ShaderCache, MissWritesTheObjectAndHitSkipsTheCompiler) {
  Start(kCacheOn);
  EXPECT_EQ(
      Log(),
      (Lines{"Quelbrand", standin::kVersionLine, "INFO: shader cache dir " + CacheFolder(),
             "INFO: Hooked D3DX9_43.dll D3DXCreateEffect",
             "INFO: Hooked D3DX9_43.dll D3DXCreateEffectFromFileA", "INFO: Queue OK", "INFO: Memory Hooked",
             "INFO: Hooked D3DX9_42.dll D3DXCreateTextureFromFileInMemory",
             "INFO: Hooked D3DX9_43.dll D3DXCreateTextureFromFileInMemoryEx", "INFO: SKSEPlugin_Load"}));
  EXPECT_NE(ExportBytes(), exports_);

  // The include handler only travels to the compiler; this one is never called.
  auto* include = reinterpret_cast<ID3DXInclude*>(0x1234);
  EXPECT_EQ(Create(kSource, sizeof kSource - 1, nullptr, 0, include), Made(kValue));
  ASSERT_EQ(Compiler().calls, 1);
  EXPECT_TRUE(Compile(0).sourceNameEmpty && Compile(0).entryPointNull);
  EXPECT_STREQ(Compile(0).target, "fx_2_0");
  EXPECT_EQ(Compile(0).flags1, 0x8000u);
  EXPECT_EQ(Compile(0).flags2, 0u);
  EXPECT_EQ(Compile(0).include, include);
  EXPECT_EQ(CacheFiles(), Lines{Name(kSource)});
  EXPECT_EQ(ReadFile(CacheFile(kSource)), MakeCacheEntry(testeffect::CompiledEffect(kValue)));
  EXPECT_EQ(Create(kSource), Made(kValue));
  EXPECT_EQ(Compiler().calls, 1);

  // Macros enter the key in name order; the compiler gets the caller's array.
  const D3DXMACRO macros[] = {{"VALUE", "7"}, {"A", nullptr}, {nullptr, nullptr}};
  const D3DXMACRO reordered[] = {{"A", nullptr}, {"VALUE", "7"}, {nullptr, nullptr}};
  EXPECT_EQ(Create(kSource, macros), Made(7));
  EXPECT_EQ(Compile(1).macros, macros);
  EXPECT_EQ(Create(kSource, reordered), Made(7));
  EXPECT_EQ(Create("value=2.5"), Made(2.5f));
  EXPECT_EQ(Compiler().calls, 3);
  EXPECT_EQ(CacheFiles().size(), 3u);
  EXPECT_EQ(Compiler().liveBlobs, 0);
  const std::string miss = "INFO: shader cache miss! ", hit = "INFO: shader cache hint! ";
  EXPECT_EQ(Log(logStart_), (Lines{miss, hit, miss, hit, miss}));

  host_.Unload();
  EXPECT_EQ(ExportBytes(), exports_);
  EXPECT_EQ(Create(kSource), Made(kValue));
  EXPECT_TRUE(Compile(3).sourceNameNull);
}

// Also: a cache directory that exists already is only named in the log.
TEST_F(ShaderCache, EffectFilesShareCacheFilesByContent) {
  CreateDirectoryA(CacheFolder().c_str(), nullptr);
  Start(kCacheOn);
  EXPECT_EQ(Log()[2], "INFO: shader cache dir " + CacheFolder());
  EXPECT_EQ(Log()[3], "INFO: Hooked D3DX9_43.dll D3DXCreateEffect");
  WriteFile("first.fx", "value=3");
  WriteFile("second.fx", "value=3");
  EXPECT_EQ(CreateFromFile("first.fx"), Made(3));
  EXPECT_EQ(CreateFromFile("second.fx"), Made(3));
  EXPECT_EQ(Create("value=3"), Made(3));
  EXPECT_EQ(Compiler().calls, 1);
  EXPECT_EQ(CacheFiles(), Lines{Name("value=3")});
  EXPECT_EQ(Log(logStart_), (Lines{"INFO: shader cache miss! first.fx", "INFO: shader cache hint! second.fx",
                                   "INFO: shader cache hint! "}));
}

TEST_F(ShaderCache, OffLeavesD3DXAlone) {
  Start("[Optimize]\nFasterLoading=1\n");
  EXPECT_EQ(Log(), (Lines{"Quelbrand", standin::kVersionLine, "INFO: Queue OK", "INFO: Memory Hooked",
                          "INFO: Hooked D3DX9_42.dll D3DXCreateTextureFromFileInMemory",
                          "INFO: Hooked D3DX9_43.dll D3DXCreateTextureFromFileInMemoryEx",
                          "INFO: SKSEPlugin_Load"}));
  EXPECT_EQ(ExportBytes(), exports_);
  EXPECT_EQ(GetFileAttributesA(CacheFolder().c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(Create("value=1"), Made(1));
  EXPECT_TRUE(Compile(0).sourceNameNull);
}

// Asked for an include while compiling: notes whether `watched` existed.
struct WatchingInclude : ID3DXInclude {
  STDMETHOD(Open)(D3DXINCLUDE_TYPE, LPCSTR, LPCVOID, LPCVOID* data, UINT* bytes) override {
    fileThere = GetFileAttributesA(watched.c_str()) != INVALID_FILE_ATTRIBUTES;
    *data = "", *bytes = 0;
    return S_OK;
  }
  STDMETHOD(Close)(LPCVOID) override { return S_OK; }
  std::string watched;
  bool fileThere = true;
};

// Files found at start, each under the name of its own source, all of which
// compile to an effect of value 5: each creation is right at once and leaves
// a verified entry that the next run hits. Only entries that match their
// checksum reach D3DX; one that D3DX then faults on or refuses is deleted
// before the compiler runs. Leftover temporary files are deleted at start.
TEST_F(ShaderCache, DamagedEntriesAreReplacedAndHitInTheNextRun) {
  const std::string object = testeffect::CompiledEffect(5), entry = MakeCacheEntry(object);
  std::string faulting = entry, wrongValue = entry, faultingObject = object;
  faulting[kCacheEntryHeaderSize + 5] ^= 0x40;     // the main part far past the object
  wrongValue[kCacheEntryHeaderSize + 52] ^= 0x10;  // a value D3DX takes
  faultingObject[7] ^= 0x80;                       // the main part 2 GB away: never mapped
  const std::pair<std::string, std::string> files[] = {
      {"value=5 a", entry.substr(0, 60)},
      {"value=5 b", faulting},
      {"value=5 c", wrongValue},
      {"value=5 d", object},  // written before entries had a checksum
      {"#include\nvalue=5 e", MakeCacheEntry(faultingObject)},
      {"value=5 f", MakeCacheEntry(std::string(40, '\xA5'))},  // taken by D3DX for source text
      {"no value", object}};
  CreateDirectoryA(CacheFolder().c_str(), nullptr);
  for (const auto& [source, bytes] : files) WriteFile(CacheFile(source), bytes);
  for (const char* name : {"writing-0000abcd.tmp", "writing-notes.txt"})
    WriteFile(CacheFolder() + "\\" + name, "");
  Start(kCacheOn);
  WatchingInclude include;
  include.watched = CacheFile(files[4].first);
  for (const auto& [source, bytes] : files) {
    const Outcome outcome = Create(source.data(), static_cast<UINT>(source.size()), nullptr, 0, &include);
    if (source == "no value")
      EXPECT_EQ(outcome.errors, "standin: no value");
    else
      EXPECT_EQ(outcome, Made(5)) << source;
  }
  EXPECT_FALSE(include.fileThere);
  const std::string miss = "INFO: shader cache miss! ", hit = "INFO: shader cache hint! ";
  EXPECT_EQ(Log(logStart_), (Lines{miss,
                                   "WARNING: Shader cache file " + Name(files[0].first) +
                                       " is damaged: deleted and compiled again",
                                   miss, miss, miss, hit, "WARNING: shader cache fault C0000005! ", hit,
                                   "WARNING: shader cache object refused 80004005! ", miss}));

  host_.Unload();
  Start(kCacheOn);
  const int calls = Compiler().calls;
  Lines expected = {"writing-notes.txt"};
  for (const auto& [source, bytes] : files) {
    if (source == "no value") continue;
    EXPECT_EQ(Create(source.data(), static_cast<UINT>(source.size()), nullptr, 0, &include), Made(5));
    EXPECT_EQ(ReadFile(CacheFile(source)), entry) << source;
    expected.push_back(Name(source));
  }
  EXPECT_EQ(Compiler().calls, calls);
  EXPECT_EQ(Log(logStart_), Lines(6, hit));
  Lines found = CacheFiles();
  std::sort(expected.begin(), expected.end());
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, expected);
}

// Objects large enough that a write takes a while; every round a new effect.
TEST_F(ShaderCache, ConcurrentMissesLeaveOneCompleteFile) {
  Start(kCacheOn);
  constexpr int kThreads = 4, kRounds = 6;
  for (int round = 1; round <= kRounds; ++round) {
    const std::string source = "value=" + std::to_string(round) + " pad=300000";
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::vector<Outcome> outcomes(kThreads);
    std::vector<std::thread> threads;
    for (Outcome& outcome : outcomes)
      threads.emplace_back([&] {
        WaitForSingleObject(go, INFINITE);
        outcome = Create(source);
      });
    SetEvent(go);
    for (std::thread& thread : threads) thread.join();
    CloseHandle(go);
    for (const Outcome& outcome : outcomes) EXPECT_EQ(outcome, Made(static_cast<float>(round))) << round;
    EXPECT_EQ(
        ReadFile(CacheFile(source)),
        MakeCacheEntry(testeffect::CompiledEffect(static_cast<float>(round)) + std::string(300000, '\x5A')));
  }
  EXPECT_EQ(CacheFiles().size(), static_cast<size_t>(kRounds));
  for (const std::string& line : Log(logStart_)) EXPECT_EQ(line.find("WARNING"), std::string::npos) << line;
}

// The final name taken by a folder: the object still serves, nothing of the
// write is left behind, and one warning with the reason covers the run.
TEST_F(ShaderCache, WriteThatCannotCompleteLeavesNothingAndWarnsOnce) {
  Start(kCacheOn);
  for (const char* source : {"value=6", "value=7"})
    ASSERT_TRUE(CreateDirectoryA(CacheFile(source).c_str(), nullptr));
  EXPECT_EQ(Create("value=6"), Made(6));
  EXPECT_EQ(Create("value=7"), Made(7));
  EXPECT_EQ(Create("value=6"), Made(6));
  Lines expected = {Name("value=6"), Name("value=7")};
  Lines files = CacheFiles();
  std::sort(expected.begin(), expected.end());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, expected);
  const std::string miss = "INFO: shader cache miss! ";
  EXPECT_EQ(Log(logStart_), (Lines{miss,
                                   "WARNING: Cannot write shader cache file " + Name("value=6") +
                                       ": replacing failed with error 5",
                                   miss, miss}));
}

TEST_F(ShaderCache, RefusalsEndInD3DXWithTheCallersArguments) {
  // D3DX's own answers, before the plug-in is loaded.
  const std::string include = "#include \"part.fxh\"\nvalue=1";
  const Outcome refused = Create(include, nullptr, D3DXSHADER_SKIPOPTIMIZATION);
  const Outcome missing = CreateFromFile("missing.fx"), unnamed = CreateFromFile(nullptr);
  const Outcome noSource = Create(nullptr, 16);
  ASSERT_EQ(refused.errors, "standin: #include without an include handler");
  const int before = Compiler().calls;

  // The plug-in tries the compiler once; after that the source goes straight to D3DX.
  Start(kCacheOn);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(Create(include, nullptr, D3DXSHADER_SKIPOPTIMIZATION), refused);
  EXPECT_TRUE(Compile(before).sourceNameEmpty);
  for (int i : {1, 2}) {
    EXPECT_TRUE(Compile(before + i).sourceNameNull);
    EXPECT_EQ(Compile(before + i).flags1, static_cast<uint32_t>(D3DXSHADER_SKIPOPTIMIZATION));
  }
  EXPECT_EQ(CreateFromFile("missing.fx"), missing);
  EXPECT_EQ(CreateFromFile(nullptr), unnamed);
  EXPECT_EQ(Create(nullptr, 16), noSource);
  EXPECT_EQ(Compiler().calls, before + 3);
  EXPECT_TRUE(CacheFiles().empty());
  EXPECT_EQ(Log(logStart_), Lines{"INFO: shader cache miss! "});
  EXPECT_EQ(Compiler().liveBlobs, 0);
}

// A file where the directory should be: one warning, and effects are left
// to D3DX.
TEST_F(ShaderCache, UnusableDirectoryLeavesEffectsToD3DX) {
  WriteFile(CacheFolder(), "not a directory");
  Start(kCacheOn);
  EXPECT_EQ(Log()[2], "WARNING: Shader cache directory is a file: cache not used");
  EXPECT_EQ(Create("value=5"), Made(5));
  EXPECT_EQ(Create("value=5"), Made(5));
  EXPECT_EQ(Compiler().calls, 2);
  EXPECT_TRUE(Compile(0).sourceNameNull && Compile(1).sourceNameNull);
  EXPECT_TRUE(Log(logStart_).empty());
  EXPECT_EQ(ReadFile(CacheFolder()), "not a directory");
}

class ShaderCacheWithoutCompiler : public ShaderCache {
 protected:
  void SetUp() override {
    compilerPath_ = STANDIN_WITHOUT_COMPILE_PATH;
    ShaderCache::SetUp();
  }
};

// D3DX creates effects from compiled objects by itself.
TEST_F(ShaderCacheWithoutCompiler, EffectsGoStraightToD3DXAfterOneLine) {
  Start(kCacheOn);
  const std::string object = testeffect::CompiledEffect(4);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Create(object), Made(4));
  EXPECT_EQ(Compiler().calls, 0);
  EXPECT_TRUE(CacheFiles().empty());
  EXPECT_EQ(Log(logStart_),
            Lines{"WARNING: No D3DCompile in D3DCOMPILER_47.dll: effects are left to D3DX, uncached"});
}

}  // namespace
