#include "shadercache/cache_files.h"

#include <shlwapi.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "base/init_order.h"
#include "base/log.h"

std::wstring ShaderCacheDir __attribute__((init_priority(kInitShaderCacheDirectory)));
bool ShaderCacheDirUsable = false;

namespace {

constexpr wchar_t kCacheFolder[] = L"\\data\\skse\\shader caches";
// The separator and the 64 characters of a cache name.
constexpr size_t kCacheNameLength = 1 + 64;
// GetModuleFileNameW's limit for a long path.
constexpr DWORD kLongPathCharacters = 32768;
constexpr DWORD kWriteChunk = 1u << 20;

LONG writeWarned = 0;

std::wstring CachePath(const std::wstring& name) { return ShaderCacheDir + L"/" + name; }

// Beside the cache files, under a name no cache file has; thread ids are
// unique among the threads alive on the system, so no two writers share one.
constexpr wchar_t kTemporaryPrefix[] = L"writing-";
constexpr wchar_t kTemporaryPattern[] = L"writing-*.tmp";

std::wstring TemporaryPath() {
  const DWORD thread = GetCurrentThreadId();
  return ShaderCacheDir + L"/" + kTemporaryPrefix +
         HexWide(ByteString(reinterpret_cast<const char*>(&thread), sizeof thread)) + L".tmp";
}

// Closes the handle on every way out; Close reports whether closing worked.
struct FileHandle {
  HANDLE handle;
  ~FileHandle() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
  bool Close() {
    if (handle == INVALID_HANDLE_VALUE) return true;
    const HANDLE closing = handle;
    handle = INVALID_HANDLE_VALUE;
    return CloseHandle(closing) != 0;
  }
};

bool WriteAll(HANDLE file, const ByteString& bytes) {
  for (size_t done = 0; done < bytes.size();) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, kWriteChunk));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) return false;
    done += written;
  }
  return true;
}

// Only the first failed write of a run is logged: the next ones would
// mostly repeat its reason.
void WarnWriteFailed(const std::wstring& name, const char* step, DWORD error) {
  if (InterlockedExchange(&writeWarned, 1) != 0) return;
  LogLine(GetLog(), LogWarning, "Cannot write shader cache file %ls: %s failed with error %lu", name.c_str(),
          step, error);
}

// A temporary file still being written, by another game, is open without
// sharing and so is not deleted.
void RemoveLeftoverTemporaryFiles() {
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW((ShaderCacheDir + L"\\" + kTemporaryPattern).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
      DeleteFileW((ShaderCacheDir + L"\\" + found.cFileName).c_str());
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

}  // namespace

void InitShaderCacheDir() {
  std::vector<wchar_t> folder(kLongPathCharacters);
  const DWORD length = GetModuleFileNameW(GetModuleHandleW(nullptr), folder.data(), kLongPathCharacters);
  folder[std::min(length, kLongPathCharacters - 1)] = L'\0';
  PathRemoveFileSpecW(folder.data());
  ShaderCacheDir = folder.data();
  ShaderCacheDir += kCacheFolder;

  ShaderCacheDirUsable = false;
  if (ShaderCacheDir.size() + kCacheNameLength >= MAX_PATH) {
    LogLine(GetLog(), LogWarning, "Shader cache paths would exceed %d characters: cache not used",
            MAX_PATH - 1);
  } else if (!CreateDirectoryW(ShaderCacheDir.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    LogLine(GetLog(), LogWarning, "Cannot create directory for cache : %x",
            static_cast<unsigned>(GetLastError()));
  } else if ((GetFileAttributesW(ShaderCacheDir.c_str()) & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    LogLine(GetLog(), LogWarning, "Shader cache directory is a file: cache not used");
  } else {
    ShaderCacheDirUsable = true;
    RemoveLeftoverTemporaryFiles();
  }
  LogLine(GetLog(), LogInfo, "shader cache dir %ls", ShaderCacheDir.c_str());
}

bool ReadWholeFile(FILE* file, ByteString& bytes) {
  bytes.clear();
  if (_fseeki64(file, 0, SEEK_END) != 0) return false;
  const int64_t size = _ftelli64(file);
  if (size < 0 || static_cast<uint64_t>(size) > bytes.max_size()) return false;
  bytes.resize(static_cast<size_t>(size));
  if (_fseeki64(file, 0, SEEK_SET) != 0) return false;
  bytes.resize(std::fread(&bytes[0], 1, bytes.size(), file));
  return true;
}

// Shared for deleting too, so that replacing or removing a file is not
// refused while another thread reads it.
ByteString ReadCacheFile(const std::wstring& name) {
  ByteString bytes;
  FileHandle file = {CreateFileW(CachePath(name).c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
  LARGE_INTEGER size;
  if (file.handle == INVALID_HANDLE_VALUE || !GetFileSizeEx(file.handle, &size) || size.HighPart != 0 ||
      size.LowPart > bytes.max_size())
    return bytes;
  bytes.resize(size.LowPart);
  for (size_t done = 0; done < bytes.size();) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, kWriteChunk));
    DWORD read = 0;
    if (!ReadFile(file.handle, &bytes[done], chunk, &read, nullptr) || read == 0) return ByteString();
    done += read;
  }
  return bytes;
}

bool WriteCacheFile(const std::wstring& name, const ByteString& bytes) {
  const std::wstring temporary = TemporaryPath();
  FileHandle file = {CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr)};
  if (file.handle == INVALID_HANDLE_VALUE) {
    WarnWriteFailed(name, "creating a temporary file", GetLastError());
    return false;
  }
  const char* step = nullptr;
  if (!WriteAll(file.handle, bytes))
    step = "writing";
  else if (!file.Close())
    step = "closing";
  else if (!MoveFileExW(temporary.c_str(), CachePath(name).c_str(), MOVEFILE_REPLACE_EXISTING))
    step = "replacing";
  if (step == nullptr) return true;

  const DWORD error = GetLastError();
  file.Close();
  DeleteFileW(temporary.c_str());
  // Another writer may have put the same object in place first while a
  // reader held it open.
  if (ReadCacheFile(name) == bytes) return true;
  WarnWriteFailed(name, step, error);
  return false;
}

void RemoveCacheFile(const std::wstring& name) { DeleteFileW(CachePath(name).c_str()); }
