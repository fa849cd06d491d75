#pragma once

// Names of cached effects: the SHA-256 digest, in lowercase hexadecimal, of
// a text made of the caller's macros and the effect's source bytes. Nothing
// else (include handler, flags, pool, device, file name) enters the name.

#include <cstdint>
#include <string>

// Compiled effects and key texts: owned bytes, zero bytes allowed.
using ByteString = std::string;

// One entry of a macro array as D3DX and the compiler lay it out; an array
// ends at the first entry whose name is null. A null definition is allowed.
struct EffectMacro {
  const char* name;
  const char* definition;
};

// The macros, sorted by name, one "#define NAME[ DEFINITION]\n" line each,
// followed by the source bytes unchanged. `macros` may be null.
ByteString CacheKeyText(const void* source, uint32_t length, const EffectMacro* macros);

// Lowercase hexadecimal of `bytes`, two wide characters per byte.
std::wstring HexWide(const ByteString& bytes);

// The 64-character cache name of an effect.
std::wstring MakeCacheName(const void* source, uint32_t length, const EffectMacro* macros);
