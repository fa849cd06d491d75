#pragma once

// The cache directory beside the game and the cache files in it. A cache
// file holds one entry (cache_entry.h) and is named by its cache name (see
// cache_key.h). Files appear complete or not at all: each is written under a
// temporary name and then put in place; temporary files that a writer which
// died left behind are deleted when the directory is set up.

#include <cstdio>
#include <string>

#include "shadercache/cache_key.h"

// "<game folder>\data\skse\shader caches"; empty until InitShaderCacheDir.
extern std::wstring ShaderCacheDir;

// Whether InitShaderCacheDir found the directory in place and short enough
// for cache file paths; written once at process attach.
extern bool ShaderCacheDirUsable;

// Sets ShaderCacheDir from the game executable's folder and creates the
// directory (its last level only), logging the outcome; a directory that
// cannot serve is logged as a warning and leaves ShaderCacheDirUsable false.
// A usable directory loses its leftover temporary files.
void InitShaderCacheDir();

// The bytes of the named cache file; empty when it is missing, cannot be
// opened or read, or is empty.
ByteString ReadCacheFile(const std::wstring& name);

// Creates or replaces the named cache file in one step; false when it could
// not, and then no file of this write is left behind. The first failure of
// a run is logged as a warning with its reason.
bool WriteCacheFile(const std::wstring& name, const ByteString& bytes);

// Deletes the named cache file, if it is there.
void RemoveCacheFile(const std::wstring& name);

// Reads an open file from its start to its end; false when its size cannot
// be taken. A file that shrinks meanwhile gives the bytes actually read.
bool ReadWholeFile(FILE* file, ByteString& bytes);
