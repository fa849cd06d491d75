#include "mapped_file.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace {

constexpr uint64_t kLargestFile = 0xFFFFFFFF;  // the game passes sizes as 32-bit counts

}  // namespace

#ifdef _WIN32

MappedFile::MappedFile(const std::filesystem::path& path) {
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error_ = "cannot open (error " + std::to_string(GetLastError()) + ")";
    return;
  }
  LARGE_INTEGER length;
  if (!GetFileSizeEx(file, &length)) {
    error_ = "cannot read its size (error " + std::to_string(GetLastError()) + ")";
  } else if (static_cast<uint64_t>(length.QuadPart) > kLargestFile) {
    error_ = "4 GiB or larger";
  } else if (length.QuadPart > 0) {
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping != nullptr) data_ = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    if (data_ == nullptr) {
      error_ = "cannot map (error " + std::to_string(GetLastError()) + ")";
    } else {
      size_ = static_cast<uint32_t>(length.QuadPart);
    }
    if (mapping != nullptr) CloseHandle(mapping);
  }
  CloseHandle(file);
}

MappedFile::~MappedFile() {
  if (data_ != nullptr) UnmapViewOfFile(data_);
}

#else

MappedFile::MappedFile(const std::filesystem::path& path) {
  const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) {
    error_ = std::string("cannot open: ") + std::strerror(errno);
    return;
  }
  struct stat status;
  if (fstat(file, &status) != 0) {
    error_ = std::string("cannot read its size: ") + std::strerror(errno);
  } else if (!S_ISREG(status.st_mode)) {
    error_ = "not a regular file";
  } else if (static_cast<uint64_t>(status.st_size) > kLargestFile) {
    error_ = "4 GiB or larger";
  } else if (status.st_size > 0) {
    void* mapped = mmap(nullptr, static_cast<size_t>(status.st_size), PROT_READ, MAP_PRIVATE, file, 0);
    if (mapped == MAP_FAILED) {
      error_ = std::string("cannot map: ") + std::strerror(errno);
    } else {
      data_ = mapped;
      size_ = static_cast<uint32_t>(status.st_size);
    }
  }
  close(file);
}

MappedFile::~MappedFile() {
  if (data_ != nullptr) munmap(const_cast<void*>(data_), size_);
}

#endif
