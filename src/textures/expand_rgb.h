#pragma once

#include <cstdint>

// Widens `count` 24-bit pixels (blue, green, red) to 32-bit ones (blue,
// green, red, alpha 255). Both variants write the same bytes; the SSSE3 one
// permutes with byte shuffles, the SSE2 one runs on every processor.
using ExpandRgbRowFunction = void (*)(void* destination, const void* source, uint32_t count);

__attribute__((target("ssse3"))) void ExpandRgbRowSsse3(void* destination, const void* source,
                                                        uint32_t count);
void ExpandRgbRowSse2(void* destination, const void* source, uint32_t count);

// The variant for a processor, from the CPUID leaf-1 ECX word (SSSE3 is bit 9).
ExpandRgbRowFunction SelectExpandRgbRow(uint32_t leaf1Ecx);

// The variant in use: set by the texture installer, only read afterwards. It
// starts as the SSE2 variant, which every processor runs.
extern ExpandRgbRowFunction ExpandRgbRow;
