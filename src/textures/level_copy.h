#pragma once

#include <cstdint>

// The byte moving of the texture load paths. Large work is split over the
// processor's cores; small work stays on the calling thread. Every call
// returns when all bytes are written.

// A copy is split from this many bytes up, contiguous ones into pieces of
// kCopyPieceBytes (the last one shorter). Two threads measured faster from
// 256 KiB up where copies are slow (texture_bench copies under emulation),
// but slower at 256-512 KiB natively, where waking a helper costs as much.
constexpr uint32_t kParallelCopyThreshold = 0x100000;
constexpr uint32_t kCopyPieceBytes = 0x10000;
// A row loop is split from this many rows up (row copies only from
// kParallelCopyThreshold bytes).
constexpr uint32_t ParallelRowThreshold = 128;

// Pieces that CopyLevel splits `count` bytes into; 0 when it copies them on
// the calling thread.
uint32_t CopyLevelPieces(uint32_t count);

// Copies one contiguous level.
void CopyLevel(void* destination, const void* source, uint32_t count);

// Copies `rows` rows of `rowBytes` each: the source rows are contiguous, the
// destination rows `pitch` bytes apart (pitch >= rowBytes).
void CopyRows(void* destination, uint32_t pitch, const void* source, uint32_t rowBytes, uint32_t rows);

// Widens `rows` rows of `width` 24-bit pixels with ExpandRgbRow: source rows
// `sourceRowBytes` apart, destination rows `pitch` apart.
void ExpandRows(void* destination, uint32_t pitch, const void* source, uint32_t sourceRowBytes, uint32_t rows,
                uint32_t width);
