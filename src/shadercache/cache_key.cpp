#include "shadercache/cache_key.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "shadercache/sha256.h"

namespace {

constexpr char kDefine[] = "#define ";
constexpr size_t kDefineLength = sizeof kDefine - 1;
// Slack beyond the key text, so that the digest's padding fits as well.
constexpr size_t kSpareCapacity = 64;

}  // namespace

ByteString CacheKeyText(const void* source, uint32_t length, const EffectMacro* macros) {
  std::vector<EffectMacro> sorted;
  for (const EffectMacro* macro = macros; macro != nullptr && macro->name != nullptr; ++macro)
    sorted.push_back(*macro);
  // Equal names may come out in either order; the compiler sees them in the
  // caller's order anyway.
  std::sort(sorted.begin(), sorted.end(),
            [](const EffectMacro& a, const EffectMacro& b) { return std::strcmp(a.name, b.name) < 0; });

  ByteString text;
  for (const EffectMacro& macro : sorted) {
    text.append(kDefine, kDefineLength);
    text.append(macro.name);
    if (macro.definition != nullptr) {
      text.push_back(' ');
      text.append(macro.definition);
    }
    text.push_back('\n');
  }
  text.reserve(text.size() + length + kSpareCapacity);
  if (length != 0) text.append(static_cast<const char*>(source), length);
  return text;
}

std::wstring HexWide(const ByteString& bytes) {
  constexpr char kDigits[] = "0123456789abcdef";
  std::wstring hex;
  hex.reserve(2 * bytes.size());
  for (char byte : bytes) {
    const auto value = static_cast<unsigned char>(byte);
    hex.push_back(static_cast<wchar_t>(kDigits[value >> 4]));
    hex.push_back(static_cast<wchar_t>(kDigits[value & 0x0F]));
  }
  return hex;
}

std::wstring MakeCacheName(const void* source, uint32_t length, const EffectMacro* macros) {
  return HexWide(Sha256Digest(CacheKeyText(source, length, macros)));
}
