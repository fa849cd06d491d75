// A stand-in for d3dcompiler_47.dll: compiles the tests' effect language
// into small fx_2_0 effect objects and records every call.

#include "standin_compiler.h"

#include <d3dcompiler.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "test_effect.h"

namespace {

StandinCompilerRecord record;

struct Blob : ID3D10Blob {
  explicit Blob(std::string content) : bytes(std::move(content)) { ++record.liveBlobs; }
  virtual ~Blob() { --record.liveBlobs; }
  STDMETHOD(QueryInterface)(REFIID, void**) override { return E_NOINTERFACE; }
  STDMETHOD_(ULONG, AddRef)() override { return ++references; }
  STDMETHOD_(ULONG, Release)() override {
    if (--references == 0) delete this;
    return 0;
  }
  STDMETHOD_(void*, GetBufferPointer)() override { return bytes.data(); }
  STDMETHOD_(SIZE_T, GetBufferSize)() override { return bytes.size(); }
  std::string bytes;
  ULONG references = 1;
};

HRESULT Compile(const std::string& text, const D3D_SHADER_MACRO* macros, ID3DInclude* include,
                ID3DBlob** code, ID3DBlob** errors) {
  const char* problem = nullptr;
  if (text.find("#include") != std::string::npos) {
    LPCVOID data = nullptr;
    UINT bytes = 0;
    if (include == nullptr)
      problem = "standin: #include without an include handler";
    else if (SUCCEEDED(include->Open(D3D_INCLUDE_LOCAL, "part.fxh", nullptr, &data, &bytes)))
      include->Close(data);
  }
  const size_t at = text.find("value=");
  if (at == std::string::npos) problem = "standin: no value";
  if (problem != nullptr) {
    *errors = new Blob(std::string(problem) + '\0');
    return E_FAIL;
  }
  float value = std::strtof(text.c_str() + at + 6, nullptr);
  for (const D3D_SHADER_MACRO* macro = macros; macro != nullptr && macro->Name != nullptr; ++macro) {
    if (std::strcmp(macro->Name, "VALUE") == 0) value = std::strtof(macro->Definition, nullptr);
  }
  std::string object = testeffect::CompiledEffect(value);
  const size_t pad = text.find("pad=");
  if (pad != std::string::npos) object.append(std::strtoul(text.c_str() + pad + 4, nullptr, 10), '\x5A');
  *code = new Blob(object);
  return S_OK;
}

}  // namespace

extern "C" HRESULT WINAPI D3DCompile(const void* data, SIZE_T size, const char* sourceName,
                                     const D3D_SHADER_MACRO* macros, ID3DInclude* include,
                                     const char* entryPoint, const char* target, UINT flags1, UINT flags2,
                                     ID3DBlob** code, ID3DBlob** errors) {
  if (record.calls < kStandinHistory) {
    StandinCompileCall& call = record.history[record.calls];
    call.sourceNameNull = sourceName == nullptr;
    call.sourceNameEmpty = sourceName != nullptr && sourceName[0] == '\0';
    call.entryPointNull = entryPoint == nullptr;
    std::strncpy(call.target, target, sizeof call.target - 1);
    call.flags1 = flags1;
    call.flags2 = flags2;
    call.macros = macros;
    call.include = include;
  }
  ++record.calls;
  *code = *errors = nullptr;
  return Compile(std::string(static_cast<const char*>(data), size), macros, include, code, errors);
}

extern "C" StandinCompilerRecord* StandinCompilerState() { return &record; }
