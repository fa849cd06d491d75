#include "base/readable_memory.h"

#include <windows.h>

#include <cstdint>
#include <cstring>

namespace {

constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                            PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;

// Readable bytes of the block holding `address`, from `address` to its end;
// 0 when it is not readable.
size_t ReadableInBlock(uintptr_t address) {
  MEMORY_BASIC_INFORMATION info;
  if (VirtualQuery(reinterpret_cast<const void*>(address), &info, sizeof info) == 0) return 0;
  if (info.State != MEM_COMMIT || (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0 ||
      (info.Protect & kReadable) == 0) {
    return 0;
  }
  return reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize - address;
}

}  // namespace

size_t ReadableLength(const void* address, size_t limit) {
  uintptr_t at = reinterpret_cast<uintptr_t>(address);
  size_t total = 0;
  while (total < limit) {
    size_t run = ReadableInBlock(at + total);
    if (run == 0) break;
    total += run;
  }
  return total < limit ? total : limit;
}

bool IsReadable(const void* address, size_t size) { return ReadableLength(address, size) == size; }

bool IsCommitted(const void* address, size_t size) {
  auto at = reinterpret_cast<uintptr_t>(address);
  for (uintptr_t end = at + size; at < end;) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(reinterpret_cast<const void*>(at), &info, sizeof info) == 0 ||
        info.State != MEM_COMMIT) {
      return false;
    }
    at = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
  }
  return true;
}

bool ReadGuarded(const void* address, void* out, size_t size) {
  if (!IsReadable(address, size)) return false;
  std::memcpy(out, address, size);
  return true;
}
