#include "shadercache/cache_entry.h"

#include <cstring>

#include "shadercache/entry_checksum.h"

namespace {

// Never the start of a bare compiled effect (FE FF 09 01 for fx_2_0), so
// files from before the checksum are told apart from damaged ones.
constexpr char kEntryTag[4] = {'Q', 'B', 'F', '1'};

bool Tagged(const ByteString& entry) {
  return entry.compare(0, sizeof kEntryTag, kEntryTag, sizeof kEntryTag) == 0;
}

}  // namespace

ByteString MakeCacheEntry(const ByteString& object) {
  ByteString entry;
  entry.reserve(kCacheEntryHeaderSize + object.size());
  entry.append(kEntryTag, sizeof kEntryTag);
  const uint64_t checksum = EntryChecksum(object.data(), object.size());
  entry.append(reinterpret_cast<const char*>(&checksum), sizeof checksum);
  entry += object;
  return entry;
}

CacheEntryCheck CheckCacheEntry(const ByteString& entry) {
  if (!Tagged(entry)) return CacheEntryCheck::kUntagged;
  if (entry.size() < kCacheEntryHeaderSize) return CacheEntryCheck::kDamaged;
  uint64_t stored;
  std::memcpy(&stored, entry.data() + sizeof kEntryTag, sizeof stored);
  return stored == EntryChecksum(entry.data() + kCacheEntryHeaderSize, entry.size() - kCacheEntryHeaderSize)
             ? CacheEntryCheck::kVerified
             : CacheEntryCheck::kDamaged;
}
