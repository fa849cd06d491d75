#pragma once

#include <cstddef>

// Reads that never fault: the pages are checked with VirtualQuery first.

// Whether all `size` bytes at `address` are committed and readable.
bool IsReadable(const void* address, size_t size);
// How many bytes from `address` on are readable, at most `limit`.
size_t ReadableLength(const void* address, size_t limit);
// Whether all `size` bytes at `address` are committed, whatever their
// protection: false once the module holding them is unloaded.
bool IsCommitted(const void* address, size_t size);
// Copies `size` bytes when they are all readable; false (and nothing copied)
// otherwise.
bool ReadGuarded(const void* address, void* out, size_t size);
