#pragma once

#include <cstddef>

// A copy of bytes that ends flush against an inaccessible page, as cache
// hits made their objects before entries were checked: a reader that runs
// past their end faults at once instead of reading on into whatever memory
// follows.
struct FencedBytes {
  FencedBytes(const char* bytes, size_t size);
  ~FencedBytes();
  FencedBytes(const FencedBytes&) = delete;
  FencedBytes& operator=(const FencedBytes&) = delete;

  const void* data = nullptr;  // null when the memory could not be had
  void* region = nullptr;
};
