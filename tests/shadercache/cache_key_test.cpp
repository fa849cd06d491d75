// SHA-256 against the FIPS 180 test vectors (and sha256sum where it exists)
// through every block function the processor runs, and the cache key text
// and name built from macros and source bytes.

#include "shadercache/cache_key.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "shadercache/cache_entry.h"
#include "shadercache/sha256.h"
#include "simd/cpu_features.h"

namespace {

std::string Hex(const std::string& bytes) {
  const std::wstring wide = HexWide(bytes);
  return std::string(wide.begin(), wide.end());
}

// The block functions this processor runs, and the one the digest picks.
std::vector<Sha256BlockFunction> BlockFunctions() {
  std::vector<Sha256BlockFunction> functions = {Sha256BlocksPortable};
  const CpuFeatureRecord features = DetectCpuFeatures(ExecuteCpuid);
  if (Sha256ExtensionsUsable(features.leaf1Ecx, features.leaf7Ebx))
    functions.push_back(Sha256BlocksExtensions);
  else
    std::printf("No SHA extensions here: the portable blocks only\n");
  return functions;
}

// The same digest from every block function and from Sha256Digest.
std::string Sha256Hex(const std::string& message) {
  static const std::vector<Sha256BlockFunction> functions = BlockFunctions();
  const std::string digest = Sha256Digest(message);
  for (Sha256BlockFunction blocks : functions) EXPECT_EQ(Hex(Sha256DigestWith(blocks, message)), Hex(digest));
  return Hex(digest);
}

std::string Name(const std::string& source, const EffectMacro* macros) {
  const std::wstring wide = MakeCacheName(source.data(), static_cast<uint32_t>(source.size()), macros);
  return std::string(wide.begin(), wide.end());
}

std::string KeyText(const std::string& source, const EffectMacro* macros) {
  return CacheKeyText(source.data(), static_cast<uint32_t>(source.size()), macros);
}

TEST(Sha256, StandardVectors) {
  EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(
      Sha256Hex(
          "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopq"
          "rsmnopqrstnopqrstu"),
      "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
  EXPECT_EQ(Sha256Hex(std::string(1000000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  EXPECT_EQ(HexWide(std::string("\x00\x0f\xa0\xff", 4)), L"000fa0ff");
}

#ifdef QUELBRAND_SHA256SUM
// Lengths around the one- and two-block padding limits, and a long one.
TEST(Sha256, AgreesWithSha256sum) {
  const std::string path = testing::TempDir() + "quelbrand_sha256_input";
  uint32_t seed = 12345;
  for (size_t length : {1u, 55u, 56u, 63u, 64u, 65u, 119u, 120u, 128u, 100003u}) {
    std::string bytes(length, '\0');
    for (char& byte : bytes) byte = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    FILE* tool = popen((std::string(QUELBRAND_SHA256SUM) + " '" + path + "'").c_str(), "r");
    ASSERT_NE(tool, nullptr);
    char line[65] = {};
    ASSERT_EQ(std::fread(line, 1, 64, tool), 64u);
    pclose(tool);
    EXPECT_EQ(Sha256Hex(bytes), line) << length;
  }
  std::remove(path.c_str());
}
#endif

TEST(CacheKey, MacrosSortedOneLineEach) {
  const EffectMacro ordered[] = {{"A", nullptr}, {"B", "1"}, {nullptr, nullptr}};
  const EffectMacro reversed[] = {{"B", "1"}, {"A", nullptr}, {nullptr, "ignored"}, {"C", "after the end"}};
  EXPECT_EQ(KeyText("x", reversed), "#define A\n#define B 1\nx");
  EXPECT_EQ(Name("x", ordered), Name("x", reversed));
  EXPECT_EQ(Name("x", reversed), "70fc28ec4e0846dd1537b8a969938fe594e48d1fa7d954f3a69605f7692ec1e4");

  // Byte order as unsigned values, a prefix first.
  const EffectMacro bytes[] = {
      {"\xC3\xA9", "2"}, {"AB", nullptr}, {"z", nullptr}, {"ABC", nullptr}, {nullptr, nullptr}};
  EXPECT_EQ(KeyText("", bytes), "#define AB\n#define ABC\n#define z\n#define \xC3\xA9 2\n");
}

TEST(CacheKey, NoMacrosAndDefinitionForms) {
  const EffectMacro none[] = {{nullptr, "x"}};
  EXPECT_EQ(KeyText("", nullptr), "");
  EXPECT_EQ(Name("", nullptr), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Name("value=1", none), Name("value=1", nullptr));

  const EffectMacro one[] = {{"A", "1"}, {nullptr, nullptr}};
  EXPECT_EQ(Name("value=1", one), "d6557d537680b143cea4d923249015f807430f33ba1600399214e52d955c9def");
  const EffectMacro undefined[] = {{"A", nullptr}, {nullptr, nullptr}};
  const EffectMacro empty[] = {{"A", ""}, {nullptr, nullptr}};
  EXPECT_EQ(KeyText("s", undefined), "#define A\ns");
  EXPECT_EQ(KeyText("s", empty), "#define A \ns");
  EXPECT_NE(Name("s", undefined), Name("s", empty));
}

TEST(CacheKey, SourceBytesTakenAsTheyAre) {
  const std::string source("a\0b\r\nc\0", 7);
  EXPECT_EQ(KeyText(source, nullptr), source);
  EXPECT_NE(Name(source, nullptr), Name(std::string("a\0b\r\nd\0", 7), nullptr));
  EXPECT_NE(Name(source, nullptr), Name(std::string("a\0b\nc\0", 6), nullptr));
  // The length counts, not a terminator: the same bytes cut short differ.
  EXPECT_NE(Name(source, nullptr), Name(source.substr(0, 6), nullptr));
}

// An object of whole rounds, whole words and single bytes: every flipped bit
// and every cut of its entry is caught; a bare object is untagged.
TEST(CacheEntry, NoDamageIsTakenForAVerifiedEntry) {
  std::string object(303, '\0');
  for (size_t i = 0; i < object.size(); ++i) object[i] = static_cast<char>(i * 37 + (i >> 4));
  const std::string entry = MakeCacheEntry(object);
  ASSERT_EQ(CheckCacheEntry(entry), CacheEntryCheck::kVerified);
  EXPECT_EQ(entry.substr(kCacheEntryHeaderSize), object);
  for (size_t bit = 0; bit < entry.size() * 8; ++bit) {
    std::string flipped = entry;
    flipped[bit / 8] = static_cast<char>(flipped[bit / 8] ^ (1 << (bit % 8)));
    ASSERT_NE(CheckCacheEntry(flipped), CacheEntryCheck::kVerified) << bit;
  }
  for (size_t size = 0; size < entry.size(); ++size)
    ASSERT_EQ(CheckCacheEntry(entry.substr(0, size)),
              size < 4 ? CacheEntryCheck::kUntagged : CacheEntryCheck::kDamaged)
        << size;
  EXPECT_EQ(CheckCacheEntry(object), CacheEntryCheck::kUntagged);
}

}  // namespace
