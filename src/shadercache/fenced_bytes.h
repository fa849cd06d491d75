#pragma once

#include <cstddef>

// A copy of bytes that ends flush against an inaccessible page: a reader
// that runs past their end faults at once instead of reading on into
// whatever memory follows (a cut-short effect object holds counts and
// offsets that lead there).
struct FencedBytes {
  FencedBytes(const char* bytes, size_t size);
  ~FencedBytes();
  FencedBytes(const FencedBytes&) = delete;
  FencedBytes& operator=(const FencedBytes&) = delete;

  const void* data = nullptr;  // null when the memory could not be had
  void* region = nullptr;
};
