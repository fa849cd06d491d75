#include "shadercache/cache_entry.h"

#include "shadercache/sha256.h"

namespace {

// Never the start of a bare compiled effect (FE FF 09 01 for fx_2_0), so
// files from before the digest are told apart from damaged ones.
constexpr char kEntryTag[4] = {'Q', 'B', 'F', '1'};

bool Tagged(const ByteString& entry) {
  return entry.compare(0, sizeof kEntryTag, kEntryTag, sizeof kEntryTag) == 0;
}

}  // namespace

ByteString MakeCacheEntry(const ByteString& object) {
  ByteString entry;
  entry.reserve(kCacheEntryHeaderSize + object.size());
  entry.append(kEntryTag, sizeof kEntryTag);
  entry += Sha256Digest(object.data(), object.size());
  entry += object;
  return entry;
}

CacheEntryCheck CheckCacheEntry(const ByteString& entry) {
  if (!Tagged(entry)) return CacheEntryCheck::kUntagged;
  if (entry.size() < kCacheEntryHeaderSize) return CacheEntryCheck::kDamaged;
  const ByteString digest =
      Sha256Digest(entry.data() + kCacheEntryHeaderSize, entry.size() - kCacheEntryHeaderSize);
  return entry.compare(sizeof kEntryTag, digest.size(), digest) == 0 ? CacheEntryCheck::kVerified
                                                                     : CacheEntryCheck::kDamaged;
}
