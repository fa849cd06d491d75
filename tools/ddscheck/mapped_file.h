#pragma once

// A file's bytes, read-only. Small files are read in one piece; larger ones
// are mapped, so that only the pages looked at are read and judging a large
// texture costs its header, not its size.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

class MappedFile {
 public:
  explicit MappedFile(const std::filesystem::path& path);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  // False with error() set when the file cannot be read or is 4 GiB or larger.
  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  const void* data() const { return data_; }  // null for an empty file
  uint32_t size() const { return size_; }

 private:
  const void* data_ = nullptr;
  uint32_t size_ = 0;
  bool mapped_ = false;
  std::vector<uint8_t> bytes_;
  std::string error_;
};
