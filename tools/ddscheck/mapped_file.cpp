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
// Files up to this size are read rather than mapped: cheaper for small ones.
constexpr uint64_t kLargestRead = 0x10000;

#ifdef _WIN32
// "what: the system's message for the last error", in UTF-8.
std::string Failure(const char* what) {
  const DWORD code = GetLastError();
  wchar_t* message = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      code, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  std::string text = std::string(what) + ": ";
  if (length == 0) return text + "error " + std::to_string(code);
  const std::wstring wide(message, length);
  LocalFree(message);
  text += std::filesystem::path(wide).u8string();
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.')) {
    text.pop_back();
  }
  return text;
}
#endif

}  // namespace

#ifdef _WIN32

MappedFile::MappedFile(const std::filesystem::path& path) {
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error_ = Failure("cannot open");
    return;
  }
  // Pipes, consoles and devices could block or never end.
  LARGE_INTEGER length;
  if (GetFileType(file) != FILE_TYPE_DISK) {
    error_ = "not a regular file";
  } else if (!GetFileSizeEx(file, &length)) {
    error_ = Failure("cannot read its size");
  } else if (static_cast<uint64_t>(length.QuadPart) > kLargestFile) {
    error_ = "4 GiB or larger";
  } else if (static_cast<uint64_t>(length.QuadPart) <= kLargestRead) {
    bytes_.resize(static_cast<size_t>(length.QuadPart));
    DWORD read = 0;
    if (!bytes_.empty() &&
        (!ReadFile(file, bytes_.data(), static_cast<DWORD>(bytes_.size()), &read, nullptr) ||
         read != bytes_.size())) {
      error_ = Failure("cannot read");
    } else {
      data_ = bytes_.empty() ? nullptr : bytes_.data();
      size_ = static_cast<uint32_t>(bytes_.size());
    }
  } else {
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping != nullptr) data_ = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    if (data_ == nullptr) {
      error_ = Failure("cannot map");
    } else {
      size_ = static_cast<uint32_t>(length.QuadPart);
      mapped_ = true;
    }
    if (mapping != nullptr) CloseHandle(mapping);
  }
  CloseHandle(file);
}

MappedFile::~MappedFile() {
  if (mapped_) UnmapViewOfFile(data_);
}

#else

MappedFile::MappedFile(const std::filesystem::path& path) {
  // Without blocking, so that opening a FIFO returns at once; fstat then
  // turns away everything but regular files.
  const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
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
  } else if (static_cast<uint64_t>(status.st_size) <= kLargestRead) {
    bytes_.resize(static_cast<size_t>(status.st_size));
    size_t done = 0;
    while (done < bytes_.size()) {
      const ssize_t got = read(file, bytes_.data() + done, bytes_.size() - done);
      if (got <= 0 && errno != EINTR) break;
      if (got > 0) done += static_cast<size_t>(got);
    }
    if (done != bytes_.size()) {
      error_ = std::string("cannot read: ") + std::strerror(errno);
    } else {
      data_ = bytes_.empty() ? nullptr : bytes_.data();
      size_ = static_cast<uint32_t>(bytes_.size());
    }
  } else {
    void* mapped = mmap(nullptr, static_cast<size_t>(status.st_size), PROT_READ, MAP_PRIVATE, file, 0);
    if (mapped == MAP_FAILED) {
      error_ = std::string("cannot map: ") + std::strerror(errno);
    } else {
      data_ = mapped;
      size_ = static_cast<uint32_t>(status.st_size);
      mapped_ = true;
    }
  }
  close(file);
}

MappedFile::~MappedFile() {
  if (mapped_) munmap(const_cast<void*>(data_), size_);
}

#endif
