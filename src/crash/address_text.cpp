#include "crash/address_text.h"

#include <windows.h>

#include <cstring>

#include "base/guarded_call.h"
#include "base/readable_memory.h"
#include "base/text_format.h"
#include "crash/module_list.h"

namespace {

constexpr uint8_t kJumpOpcode = 0xE9;
constexpr uint32_t kJumpLength = 5;
constexpr uintptr_t kReplacementReach = 0x400;

const ChangedSite* changedSites;
size_t changedSiteCount;

struct Copy {
  uintptr_t from;
  void* to;
  size_t size;
};

void CopyBytes(void* argument) {
  const Copy& copy = *static_cast<Copy*>(argument);
  std::memcpy(copy.to, reinterpret_cast<const void*>(copy.from), copy.size);
}

// Where the jump written at a changed site leads, when that is in this
// library (a site left unchanged may hold a jump of the game's own), or 0.
uintptr_t ReplacementOf(const ChangedSite& site) {
  uint8_t jump[kJumpLength];
  if (!Read(site.address, jump, sizeof jump) || jump[0] != kJumpOpcode) return 0;
  int32_t offset;
  std::memcpy(&offset, jump + 1, sizeof offset);
  const uintptr_t target = site.address + kJumpLength + static_cast<uint32_t>(offset);
  const LoadedModule* self = ModuleContaining(CrashModules(), reinterpret_cast<uintptr_t>(&ReplacementOf));
  return self != nullptr && self == ModuleContaining(CrashModules(), target) ? target : 0;
}

// ".?AVTESObjectREFR@@" as "TESObjectREFR"; nested names "Inner@Outer@@" as
// "Outer::Inner". Templates and other forms keep their decorated text.
void UndecorateTypeName(const char* decorated, char* name, size_t size) {
  const char* text = decorated + 4;
  if (std::strncmp(decorated, ".?A", 3) != 0 || text[0] == '?') {
    FormatTextf(name, size, "%s", decorated);
    return;
  }
  const char* parts[8];
  size_t lengths[8];
  int count = 0;
  while (*text != '\0' && *text != '@' && count < 8) {
    const char* end = std::strchr(text, '@');
    if (end == nullptr) end = text + std::strlen(text);
    parts[count] = text;
    lengths[count++] = static_cast<size_t>(end - text);
    text = *end == '@' ? end + 1 : end;
  }
  TextSink sink = {name, size - 1, 0, nullptr, nullptr};
  for (int i = count - 1; i >= 0; --i) {
    char part[128];
    FormatTextf(part, sizeof part, "%.*s%s", static_cast<int>(lengths[i]), parts[i], i > 0 ? "::" : "");
    AppendText(sink, part);
  }
  name[sink.used] = '\0';
}

}  // namespace

bool Read(uintptr_t address, void* out, size_t size) {
  if (!IsReadable(reinterpret_cast<const void*>(address), size)) return false;
  Copy copy = {address, out, size};
  return GuardedCall(CopyBytes, &copy) == 0;
}

void SetChangedSites(const ChangedSite* sites, size_t count) {
  changedSites = sites;
  changedSiteCount = count;
}

const char* ChangedSiteAt(uintptr_t address) {
  const char* nearest = nullptr;
  uintptr_t nearestStart = 0;
  for (size_t i = 0; i < changedSiteCount; ++i) {
    const ChangedSite& site = changedSites[i];
    if (address - site.address < kJumpLength) return site.name;
    const uintptr_t start = ReplacementOf(site);
    if (start != 0 && start <= address && start >= nearestStart) {
      nearestStart = start;
      nearest = site.name;
    }
  }
  return nearest != nullptr && address - nearestStart < kReplacementReach ? nearest : nullptr;
}

bool ObjectClassName(uintptr_t object, char* name, size_t size) {
  // object -> vtable; the word before the vtable -> complete-object locator
  // (signature 0, two offsets, type descriptor); the type descriptor holds
  // two pointers, then the decorated name.
  uint32_t vtable = 0, locator = 0, fields[4] = {}, descriptor = 0;
  char decorated[128] = {};
  if (!Read(object, &vtable, 4) || vtable < 4 || !Read(vtable - 4, &locator, 4) ||
      !Read(locator, fields, sizeof fields) || fields[0] != 0)
    return false;
  descriptor = fields[3];
  if (!Read(descriptor + 8, decorated, 4) || std::strncmp(decorated, ".?A", 3) != 0) return false;
  for (size_t i = 4; i < sizeof decorated - 1 && Read(descriptor + 8 + i, decorated + i, 1); ++i)
    if (decorated[i] == '\0') break;
  decorated[sizeof decorated - 1] = '\0';
  UndecorateTypeName(decorated, name, size);
  return true;
}

void DescribeAddress(uintptr_t address, char (&text)[kAddressText]) {
  const LoadedModule* module = ModuleContaining(CrashModules(), address);
  if (module == nullptr) {
    FormatTextf(text, sizeof text, "no module");
    return;
  }
  FormatTextf(text, sizeof text, "%s+0x%x", module->name(), static_cast<unsigned>(address - module->base));
}

void DescribePointee(uintptr_t value, char (&text)[kAddressText]) {
  text[0] = '\0';
  char name[128];
  if (ObjectClassName(value, name, sizeof name)) {
    FormatTextf(text, sizeof text, "object of class %s", name);
  } else if (ModuleContaining(CrashModules(), value) != nullptr) {
    DescribeAddress(value, text);
    const char* site = ChangedSiteAt(value);
    if (site != nullptr) {
      const size_t length = std::strlen(text);
      FormatTextf(text + length, sizeof text - length, " (changed site %s)", site);
    }
  } else if (IsReadable(reinterpret_cast<const void*>(value), 1)) {
    FormatTextf(text, sizeof text, "readable memory");
  }
}

void FormatThousands(unsigned value, char (&text)[16]) {
  char digits[16];
  const size_t count = FormatTextf(digits, sizeof digits, "%u", value);
  size_t out = 0;
  for (size_t i = 0; i < count; ++i) {
    if (i != 0 && (count - i) % 3 == 0) text[out++] = ',';
    text[out++] = digits[i];
  }
  text[out] = '\0';
}
