#pragma once

// What a cache file holds: a tag, the checksum of the compiled effect object
// (entry_checksum.h), then the object itself. Every hit is checked against
// its checksum before D3DX reads the object, so a damaged file is never
// handed to D3DX.

#include <cstddef>

#include "shadercache/cache_key.h"

// The tag and the checksum before the object.
constexpr size_t kCacheEntryHeaderSize = 4 + 8;

enum class CacheEntryCheck {
  kVerified,  // the object after the header matches its checksum
  kUntagged,  // empty, or written before entries carried a checksum
  kDamaged,   // tagged, but cut short or not matching its checksum
};

ByteString MakeCacheEntry(const ByteString& object);

// The compiled object of a verified entry lies after the header.
CacheEntryCheck CheckCacheEntry(const ByteString& entry);
