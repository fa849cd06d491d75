#include "textures/level_copy.h"

#include <algorithm>
#include <cstddef>

#include "textures/copy_bytes.h"
#include "textures/expand_rgb.h"
#include "textures/parallel_for.h"

namespace {

// Parameters of one loop, built on the caller's stack; they outlive the loop
// because ParallelFor joins before returning.
struct PieceCopy {
  uint8_t* destination;
  const uint8_t* source;
  uint32_t count;
};

struct RowCopy {
  uint8_t* destination;
  size_t pitch;
  const uint8_t* source;
  size_t sourceRowBytes;
  uint32_t rowBytes;  // bytes per row to copy (CopyRows) or pixels per row (ExpandRows)
  ExpandRgbRowFunction expand;
};

void CopyPiece(const void* record, uint32_t k) noexcept {
  const auto& r = *static_cast<const PieceCopy*>(record);
  const size_t offset = static_cast<size_t>(k) * kCopyPieceBytes;
  const uint32_t bytes = std::min<uint32_t>(r.count - static_cast<uint32_t>(offset), kCopyPieceBytes);
  CopyBytesSimd(r.destination + offset, r.source + offset, bytes);
}

void CopyRow(const void* record, uint32_t y) noexcept {
  const auto& r = *static_cast<const RowCopy*>(record);
  CopyBytesSimd(r.destination + y * r.pitch, r.source + y * r.sourceRowBytes, r.rowBytes);
}

void ExpandRow(const void* record, uint32_t y) noexcept {
  const auto& r = *static_cast<const RowCopy*>(record);
  r.expand(r.destination + y * r.pitch, r.source + y * r.sourceRowBytes, r.rowBytes);
}

void RunRows(const RowCopy& record, uint32_t rows, ParallelBody body) {
  if (rows < ParallelRowThreshold) {
    for (uint32_t y = 0; y < rows; ++y) body(&record, y);
  } else {
    ParallelFor(rows, body, &record);
  }
}

}  // namespace

uint32_t CopyLevelPieces(uint32_t count) {
  if (count < kParallelCopyThreshold) return 0;
  // Rounded up without forming count + 65535, which wraps for the largest counts.
  return count / kCopyPieceBytes + (count % kCopyPieceBytes != 0 ? 1 : 0);
}

void CopyLevel(void* destination, const void* source, uint32_t count) {
  const uint32_t pieces = CopyLevelPieces(count);
  if (pieces == 0) {
    CopyBytesSimd(destination, source, count);
    return;
  }
  const PieceCopy record = {static_cast<uint8_t*>(destination), static_cast<const uint8_t*>(source), count};
  ParallelFor(pieces, CopyPiece, &record);
}

void CopyRows(void* destination, uint32_t pitch, const void* source, uint32_t rowBytes, uint32_t rows) {
  const RowCopy record = {static_cast<uint8_t*>(destination),
                          pitch,
                          static_cast<const uint8_t*>(source),
                          rowBytes,
                          rowBytes,
                          nullptr};
  if (static_cast<uint64_t>(rows) * rowBytes < kParallelCopyThreshold) {
    for (uint32_t y = 0; y < rows; ++y) CopyRow(&record, y);
    return;
  }
  RunRows(record, rows, CopyRow);
}

void ExpandRows(void* destination, uint32_t pitch, const void* source, uint32_t sourceRowBytes, uint32_t rows,
                uint32_t width) {
  const RowCopy record = {static_cast<uint8_t*>(destination),
                          pitch,
                          static_cast<const uint8_t*>(source),
                          sourceRowBytes,
                          width,
                          ExpandRgbRow};
  RunRows(record, rows, ExpandRow);
}
