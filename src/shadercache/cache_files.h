#pragma once

// The cache directory beside the game and the cache files in it. A cache
// file holds exactly one compiled effect object, nothing before or after it,
// and is named by its cache name (see cache_key.h).

#include <cstdio>
#include <string>

#include "shadercache/cache_key.h"

// "<game folder>\data\skse\shader caches"; empty until InitShaderCacheDir.
extern std::wstring ShaderCacheDir;

// Sets ShaderCacheDir from the game executable's folder and creates the
// directory (its last level only), logging the outcome.
void InitShaderCacheDir();

// The bytes of the named cache file; empty when it is missing, cannot be
// opened or read, or is empty.
ByteString ReadCacheFile(const std::wstring& name);

// Creates or replaces the named cache file; silently does nothing when it
// cannot be opened.
void WriteCacheFile(const std::wstring& name, const ByteString& bytes);

// Reads an open file from its start to its end; false when its size cannot
// be taken. A file that shrinks meanwhile gives the bytes actually read.
bool ReadWholeFile(FILE* file, ByteString& bytes);
