#include "shadercache/effect_compiler.h"

#include <d3dcompiler.h>
#include <windows.h>

#include "base/log.h"

namespace {

constexpr char kCompilerLibrary[] = "D3DCOMPILER_47.dll";
constexpr char kEffectTarget[] = "fx_2_0";

// The compiler takes the same macro and include layouts as D3DX.
static_assert(sizeof(D3D_SHADER_MACRO) == sizeof(D3DXMACRO));

// Bound on first use rather than imported: without the compiler the plug-in
// still loads, and D3DX still creates every effect.
pD3DCompile BindCompiler() {
  HMODULE compiler = LoadLibraryExA(kCompilerLibrary, nullptr, 0);
  const auto compile =
      compiler == nullptr
          ? nullptr
          : reinterpret_cast<pD3DCompile>(reinterpret_cast<void*>(GetProcAddress(compiler, "D3DCompile")));
  if (compile == nullptr)
    LogLine(GetLog(), LogWarning, "No D3DCompile in %s: effects are left to D3DX, uncached",
            kCompilerLibrary);
  return compile;
}

pD3DCompile Compiler() {
  static const pD3DCompile compile = BindCompiler();
  return compile;
}

// Releases a blob on every way out.
struct BlobReference {
  ID3DBlob* blob = nullptr;
  ~BlobReference() {
    if (blob != nullptr) blob->Release();
  }
};

}  // namespace

bool CompilerAvailable() { return Compiler() != nullptr; }

HRESULT CompileEffect(const void* source, uint32_t length, const D3DXMACRO* macros, ID3DXInclude* include,
                      ByteString& compiled) {
  compiled.clear();
  const pD3DCompile compile = Compiler();
  if (compile == nullptr) return E_FAIL;

  BlobReference code, errors;
  const HRESULT result = compile(source, length, "", reinterpret_cast<const D3D_SHADER_MACRO*>(macros),
                                 reinterpret_cast<ID3DInclude*>(include), nullptr, kEffectTarget,
                                 D3DCOMPILE_OPTIMIZATION_LEVEL3, 0, &code.blob, &errors.blob);
  if (FAILED(result)) return result;
  if (code.blob == nullptr) return E_FAIL;
  compiled.assign(static_cast<const char*>(code.blob->GetBufferPointer()), code.blob->GetBufferSize());
  return S_OK;
}
