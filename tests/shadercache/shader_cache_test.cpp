// The shader cache through the real plug-in: Wine's D3DX9_43 on a real
// device, with the stand-in compiler (standin_compiler.h) behind both D3DX
// and the plug-in. A compile with a null source name is D3DX's own; the
// plug-in names its source "".

#include <d3d9.h>
#include <d3dx9effect.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

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
    std::string path = STANDIN_COMPILER_PATH;
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
  EXPECT_EQ(ReadFile(CacheFile(kSource)), testeffect::CompiledEffect(kValue));
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

// Each damaged file stands under the name of its own source, all of which
// compile to an effect of value 5.
TEST_F(ShaderCache, DamagedCacheFilesFallBackToD3DX) {
  Start(kCacheOn);
  const std::string object = testeffect::CompiledEffect(5);
  const std::pair<std::string, std::string> damaged[] = {
      {"value=5 a", object.substr(0, 6)},  // the offset to the main part cut in two
      {"value=5 b", object.substr(0, 60)},
      {"value=5 c", std::string(40, '\xA5')},  // taken by D3DX for source text, which does not compile
      {"value=5 d", object + "trailing bytes"},
  };
  for (const auto& [source, bytes] : damaged) {
    WriteFile(CacheFile(source), bytes);
    EXPECT_EQ(Create(source), Made(5)) << source;
    EXPECT_EQ(ReadFile(CacheFile(source)), bytes) << source;
  }
  EXPECT_EQ(Create("value=5 b", 9, nullptr, 0, nullptr, false), Made(5));  // no error slot
  for (int i = 0; i < Compiler().calls; ++i) EXPECT_TRUE(Compile(i).sourceNameNull);
  // D3DX ran past the end of the cut objects into the fence.
  const std::string hit = "INFO: shader cache hint! ", fault = "WARNING: shader cache fault C0000005! ";
  EXPECT_EQ(Log(logStart_), (Lines{hit, fault, hit, fault, hit, hit, hit, fault}));

  // An empty file is a miss: compiled again and written over.
  WriteFile(CacheFile("value=5"), "");
  const int calls = Compiler().calls;
  EXPECT_EQ(Create("value=5"), Made(5));
  EXPECT_TRUE(Compile(calls).sourceNameEmpty);
  EXPECT_EQ(ReadFile(CacheFile("value=5")), object);
}

TEST_F(ShaderCache, RefusalsEndInD3DXWithTheCallersArguments) {
  // D3DX's own answers, before the plug-in is loaded.
  const std::string include = "#include \"part.fxh\"\nvalue=1";
  const Outcome refused = Create(include, nullptr, D3DXSHADER_SKIPOPTIMIZATION);
  const Outcome missing = CreateFromFile("missing.fx"), unnamed = CreateFromFile(nullptr);
  const Outcome noSource = Create(nullptr, 16);
  ASSERT_EQ(refused.errors, "standin: #include without an include handler");
  const int before = Compiler().calls;

  Start(kCacheOn);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(Create(include, nullptr, D3DXSHADER_SKIPOPTIMIZATION), refused);
    EXPECT_TRUE(Compile(before + 2 * i).sourceNameEmpty && Compile(before + 2 * i + 1).sourceNameNull);
    EXPECT_EQ(Compile(before + 2 * i + 1).flags1, static_cast<uint32_t>(D3DXSHADER_SKIPOPTIMIZATION));
  }
  EXPECT_EQ(CreateFromFile("missing.fx"), missing);
  EXPECT_EQ(CreateFromFile(nullptr), unnamed);
  EXPECT_EQ(Create(nullptr, 16), noSource);
  EXPECT_EQ(Compiler().calls, before + 4);
  EXPECT_TRUE(CacheFiles().empty());
  EXPECT_EQ(Log(logStart_), (Lines{"INFO: shader cache miss! ", "INFO: shader cache miss! "}));
  EXPECT_EQ(Compiler().liveBlobs, 0);
}

// A file where the directory should be: nothing can be cached, every
// creation compiles and uses its fresh object.
TEST_F(ShaderCache, UnusableDirectoryStillCreatesEffects) {
  WriteFile(CacheFolder(), "not a directory");
  Start(kCacheOn);
  EXPECT_EQ(Create("value=5"), Made(5));
  EXPECT_EQ(Create("value=5"), Made(5));
  EXPECT_EQ(Compiler().calls, 2);
  EXPECT_TRUE(Compile(1).sourceNameEmpty);
  EXPECT_EQ(ReadFile(CacheFolder()), "not a directory");
}

}  // namespace
