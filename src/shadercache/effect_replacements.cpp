// The two replacements of D3DX's effect creation and the lookup-or-compile
// step they share. A hit or a fresh compile is tried on D3DXCreateEffect;
// anything short of success there ends in D3DX with the caller's arguments.

#include <share.h>

#include <cstdio>
#include <memory>

#include "plugin/log.h"
#include "shadercache/cache_files.h"
#include "shadercache/cache_key.h"
#include "shadercache/effect_compiler.h"
#include "plugin/guarded_call.h"
#include "shadercache/fenced_bytes.h"
#include "shadercache/shader_cache.h"

namespace {

static_assert(sizeof(EffectMacro) == sizeof(D3DXMACRO) && alignof(EffectMacro) == alignof(D3DXMACRO));

using CreateEffectFunction = decltype(&CacheCreateEffect);
using CreateEffectFromFileAFunction = decltype(&CacheCreateEffectFromFileA);

CreateEffectFunction CreateEffectThroughSite() {
  return reinterpret_cast<CreateEffectFunction>(CreateEffectSite);
}

CreateEffectFromFileAFunction CreateEffectFromFileAThroughSite() {
  return reinterpret_cast<CreateEffectFromFileAFunction>(CreateEffectFromFileASite);
}

// The lookup-or-compile step. Result 0: `compiled` holds an effect object to
// try (read from the cache, or compiled and then written to it); otherwise
// the compiler's failure, and nothing is written.
HRESULT GetCompiledEffect(const void* source, uint32_t length, const char* displayName,
                          const D3DXMACRO* macros, ID3DXInclude* include, ByteString& compiled) {
  const std::wstring name = MakeCacheName(source, length, reinterpret_cast<const EffectMacro*>(macros));
  compiled = ReadCacheFile(name);
  if (!compiled.empty()) {
    LogLine(GetLog(), LogInfo, "shader cache hint! %s", displayName);
    return S_OK;
  }
  LogLine(GetLog(), LogInfo, "shader cache miss! %s", displayName);
  const HRESULT result = CompileEffect(source, length, macros, include, compiled);
  if (FAILED(result)) return result;
  WriteCacheFile(name, compiled);
  return S_OK;
}

struct CompiledCreation {
  IDirect3DDevice9* device;
  const void* compiled;
  UINT size;
  const D3DXMACRO* macros;
  ID3DXInclude* include;
  ID3DXEffectPool* pool;
  ID3DXEffect** effect;
  ID3DXBuffer** errors;
  HRESULT result;
};

void CreateFromCompiledBody(void* context) {
  auto& creation = *static_cast<CompiledCreation*>(context);
  creation.result =
      CreateEffectThroughSite()(creation.device, creation.compiled, creation.size, creation.macros,
                                creation.include, 0, creation.pool, creation.effect, creation.errors);
}

// Creates the effect from compiled bytes with flags 0; true when D3DX
// succeeded, with its result in `creation`. A damaged cache file can lead
// D3DX past the object or anywhere its offsets point: the object is fenced
// and the call runs guarded, so that such a read ends the attempt. After a
// failure no error buffer of this attempt is left in the caller's slot; a
// value that D3DX did not put there is never released.
bool CreateFromCompiled(CompiledCreation& creation, const char* displayName) {
  ID3DXBuffer* const errorsBefore = creation.errors != nullptr ? *creation.errors : nullptr;
  const uint32_t fault = GuardedCall(CreateFromCompiledBody, &creation);
  if (fault != 0) {
    LogLine(GetLog(), LogWarning, "shader cache fault %08X! %s", static_cast<unsigned>(fault), displayName);
    if (creation.errors != nullptr) *creation.errors = errorsBefore;
    return false;
  }
  if (SUCCEEDED(creation.result)) return true;
  if (creation.errors != nullptr && *creation.errors != nullptr && *creation.errors != errorsBefore) {
    (*creation.errors)->Release();
    *creation.errors = nullptr;
  }
  return false;
}

// Whether the cached path created the effect; `result` is then the answer.
bool CreateCached(IDirect3DDevice9* device, const void* source, uint32_t length, const char* displayName,
                  const D3DXMACRO* macros, ID3DXInclude* include, ID3DXEffectPool* pool, ID3DXEffect** effect,
                  ID3DXBuffer** errors, HRESULT& result) {
  ByteString compiled;
  if (FAILED(GetCompiledEffect(source, length, displayName, macros, include, compiled))) return false;
  const FencedBytes fenced(compiled);
  if (fenced.data == nullptr) return false;
  CompiledCreation creation = {
      device, fenced.data, static_cast<UINT>(compiled.size()), macros, include, pool, effect, errors, E_FAIL};
  if (!CreateFromCompiled(creation, displayName)) return false;
  result = creation.result;
  return true;
}

using FileHandle = std::unique_ptr<FILE, decltype(&std::fclose)>;

}  // namespace

// Running out of memory anywhere on the cached path ends in D3DX as well.
HRESULT WINAPI CacheCreateEffect(IDirect3DDevice9* device, const void* source, UINT length,
                                 const D3DXMACRO* macros, ID3DXInclude* include, DWORD flags,
                                 ID3DXEffectPool* pool, ID3DXEffect** effect, ID3DXBuffer** errors) {
  if (source != nullptr) {
    try {
      HRESULT result;
      if (CreateCached(device, source, length, "", macros, include, pool, effect, errors, result))
        return result;
    } catch (...) {
    }
  }
  return CreateEffectThroughSite()(device, source, length, macros, include, flags, pool, effect, errors);
}

// The effect file is read here, as the caller's relative name resolves
// against the current folder; identical files share one cache file.
HRESULT WINAPI CacheCreateEffectFromFileA(IDirect3DDevice9* device, const char* fileName,
                                          const D3DXMACRO* macros, ID3DXInclude* include, DWORD flags,
                                          ID3DXEffectPool* pool, ID3DXEffect** effect, ID3DXBuffer** errors) {
  if (fileName != nullptr && CreateEffectSite != nullptr) {
    try {
      ByteString source;
      const FileHandle file(_fsopen(fileName, "rb", _SH_DENYNO), &std::fclose);
      if (file != nullptr && ReadWholeFile(file.get(), source)) {
        HRESULT result;
        if (CreateCached(device, source.data(), static_cast<uint32_t>(source.size()), fileName, macros,
                         include, pool, effect, errors, result))
          return result;
      }
    } catch (...) {
    }
  }
  return CreateEffectFromFileAThroughSite()(device, fileName, macros, include, flags, pool, effect, errors);
}
