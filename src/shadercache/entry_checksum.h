#pragma once

#include <cstddef>
#include <cstdint>

// A 64-bit checksum of a cache entry's object, against damage on disk (not
// against forgery): eight independent multiply-rotate lanes over 32-byte
// rounds, so that it runs at several bytes per cycle on any x86, with or
// without SHA instructions. Every step is invertible in the word it takes,
// so any change confined to one word, a single flipped bit among them, is
// always caught; other damage passes with odds of about 2^-64.
uint64_t EntryChecksum(const void* data, size_t size);
