#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// SHA-256 (FIPS 180-4) of a byte string; the result is the 32-byte digest.
// Uses the processor's SHA extensions where it has them.
std::string Sha256Digest(std::string message);

// Runs the compression function over `count` consecutive 64-byte blocks.
using Sha256BlockFunction = void (*)(uint32_t state[8], const unsigned char* blocks, size_t count);

// Plain C++, for every processor.
void Sha256BlocksPortable(uint32_t state[8], const unsigned char* blocks, size_t count);
// The SHA extensions (with SSSE3 and SSE4.1); only where Sha256ExtensionsUsable says so.
void Sha256BlocksExtensions(uint32_t state[8], const unsigned char* blocks, size_t count);

// Whether the processor that reported these leaf-1 ECX and leaf-7 EBX words
// runs Sha256BlocksExtensions.
bool Sha256ExtensionsUsable(uint32_t leaf1Ecx, uint32_t leaf7Ebx);

// The digest through the given block function.
std::string Sha256DigestWith(Sha256BlockFunction blocks, const std::string& message);
