#include "fenced_bytes.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

FencedBytes::FencedBytes(const char* bytes, size_t size) {
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  const size_t page = system.dwPageSize;
  const size_t dataBytes = std::max<size_t>(1, (size + page - 1) / page) * page;
  // The page after the data stays reserved only: no access.
  region = VirtualAlloc(nullptr, dataBytes + page, MEM_RESERVE, PAGE_NOACCESS);
  if (region == nullptr) return;
  if (VirtualAlloc(region, dataBytes, MEM_COMMIT, PAGE_READWRITE) == nullptr) return;
  char* start = static_cast<char*>(region) + dataBytes - size;
  std::memcpy(start, bytes, size);
  data = start;
}

FencedBytes::~FencedBytes() {
  if (region != nullptr) VirtualFree(region, 0, MEM_RELEASE);
}
