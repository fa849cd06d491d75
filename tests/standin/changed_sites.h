#pragma once

// The table of changed sites as the stand-in sees it.

#include <windows.h>

#include <array>
#include <cstring>

#include "plugin/patch_sites.h"

namespace standin {

// The bytes a redirection or a jump write replaces.
using PlaceBytes = std::array<uint8_t, 5>;

inline PlaceBytes BytesAt(uintptr_t address) {
  PlaceBytes bytes;
  std::memcpy(bytes.data(), reinterpret_cast<const void*>(address), bytes.size());
  return bytes;
}

// Library functions are looked up as the plug-in looks them up (the library
// stays loaded); 0 when absent.
inline uintptr_t PlaceAddress(const GameSite& site) {
  if (site.kind != SiteKind::FoundRedirection) return site.address;
  HMODULE library = LoadLibraryA(site.library);
  return library == nullptr ? 0 : reinterpret_cast<uintptr_t>(GetProcAddress(library, site.function));
}

}  // namespace standin
