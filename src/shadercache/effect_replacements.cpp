// The two replacements of D3DX's effect creation and the cached path they
// share. A hit or a fresh compile is tried on D3DXCreateEffect; anything
// short of success there ends in D3DX with the caller's arguments.

#include <share.h>

#include <cstdio>
#include <memory>

#include "base/guarded_call.h"
#include "base/log.h"
#include "shadercache/cache_entry.h"
#include "shadercache/cache_files.h"
#include "shadercache/cache_key.h"
#include "shadercache/effect_compiler.h"
#include "shadercache/refused_sources.h"
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
// succeeded, with its result in `creation`. Only objects that match their
// checksum or come fresh from the compiler get here, so the bytes are handed
// over as they are; the call still runs guarded, so that a fault inside D3DX
// ends the attempt. After a failure no error buffer of this attempt is left
// in the caller's slot; a value that D3DX did not put there is never
// released.
bool CreateFromCompiled(CompiledCreation& creation, const char* compiled, size_t size,
                        const char* displayName, bool fromCache) {
  creation.compiled = compiled;
  creation.size = static_cast<UINT>(size);
  ID3DXBuffer* const errorsBefore = creation.errors != nullptr ? *creation.errors : nullptr;
  const uint32_t fault = GuardedCall(CreateFromCompiledBody, &creation);
  if (fault != 0) {
    LogLine(GetLog(), LogWarning, "shader cache fault %08X! %s", static_cast<unsigned>(fault), displayName);
    if (creation.errors != nullptr) *creation.errors = errorsBefore;
    return false;
  }
  if (SUCCEEDED(creation.result)) return true;
  if (fromCache)
    LogLine(GetLog(), LogWarning, "shader cache object refused %08X! %s",
            static_cast<unsigned>(creation.result), displayName);
  if (creation.errors != nullptr && *creation.errors != nullptr && *creation.errors != errorsBefore) {
    (*creation.errors)->Release();
    *creation.errors = nullptr;
  }
  return false;
}

// Whether the cached path can serve at all: a folder for the cache files
// and a compiler for the misses.
bool CacheReady() { return ShaderCacheDirUsable && CompilerAvailable(); }

// Only the first damaged cache file of a run is logged as a warning.
void WarnDamagedEntry(const std::wstring& name) {
  static LONG warned = 0;
  if (InterlockedExchange(&warned, 1) == 0)
    LogLine(GetLog(), LogWarning, "Shader cache file %ls is damaged: deleted and compiled again",
            name.c_str());
}

// Whether the cached path created the effect; `result` is then the answer.
// A cached object is tried only once it matches its checksum. Any other file
// of the name misses and is deleted; so is a verified object that D3DX
// faults on or refuses, before the compiler runs on a heap that D3DX may
// have damaged, so that a bad entry costs at most one crash. A fresh object
// is written to the cache only once it has created the effect. A source that
// does not compile is not compiled again in this run.
bool CreateCached(IDirect3DDevice9* device, const void* source, uint32_t length, const char* displayName,
                  const D3DXMACRO* macros, ID3DXInclude* include, ID3DXEffectPool* pool, ID3DXEffect** effect,
                  ID3DXBuffer** errors, HRESULT& result) {
  const std::wstring name = MakeCacheName(source, length, reinterpret_cast<const EffectMacro*>(macros));
  if (IsRefusedSource(name)) return false;
  CompiledCreation creation = {device, nullptr, 0, macros, include, pool, effect, errors, E_FAIL};
  ByteString cached = ReadCacheFile(name);
  const bool present = !cached.empty();
  const CacheEntryCheck check = CheckCacheEntry(cached);
  if (check == CacheEntryCheck::kVerified) {
    LogLine(GetLog(), LogInfo, "shader cache hint! %s", displayName);
    if (CreateFromCompiled(creation, cached.data() + kCacheEntryHeaderSize,
                           cached.size() - kCacheEntryHeaderSize, displayName, true)) {
      result = creation.result;
      return true;
    }
    cached.erase(0, kCacheEntryHeaderSize);
  } else {
    LogLine(GetLog(), LogInfo, "shader cache miss! %s", displayName);
    if (check == CacheEntryCheck::kDamaged) WarnDamagedEntry(name);
    cached.clear();
  }
  if (present) RemoveCacheFile(name);

  ByteString fresh;
  if (FAILED(CompileEffect(source, length, macros, include, fresh))) {
    RememberRefusedSource(name);
  } else if (fresh != cached &&
             CreateFromCompiled(creation, fresh.data(), fresh.size(), displayName, false)) {
    WriteCacheFile(name, MakeCacheEntry(fresh));
    result = creation.result;
    return true;
  }
  return false;
}

using FileHandle = std::unique_ptr<FILE, decltype(&std::fclose)>;

}  // namespace

// Running out of memory anywhere on the cached path ends in D3DX as well.
HRESULT WINAPI CacheCreateEffect(IDirect3DDevice9* device, const void* source, UINT length,
                                 const D3DXMACRO* macros, ID3DXInclude* include, DWORD flags,
                                 ID3DXEffectPool* pool, ID3DXEffect** effect, ID3DXBuffer** errors) {
  if (source != nullptr && CacheReady()) {
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
  if (fileName != nullptr && CreateEffectSite != nullptr && CacheReady()) {
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
