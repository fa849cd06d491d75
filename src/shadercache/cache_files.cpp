#include "shadercache/cache_files.h"

#include <share.h>
#include <shlwapi.h>
#include <windows.h>

#include <cstdint>
#include <memory>

#include "plugin/init_order.h"
#include "plugin/log.h"

std::wstring ShaderCacheDir __attribute__((init_priority(kInitShaderCacheDirectory)));

namespace {

constexpr wchar_t kCacheFolder[] = L"\\data\\skse\\shader caches";

// Closes the file on every way out, running out of memory included.
using FileHandle = std::unique_ptr<FILE, decltype(&std::fclose)>;

FileHandle OpenCacheFile(const std::wstring& name, const wchar_t* mode) {
  return FileHandle(_wfsopen((ShaderCacheDir + L"/" + name).c_str(), mode, _SH_DENYNO), &std::fclose);
}

}  // namespace

void InitShaderCacheDir() {
  wchar_t folder[MAX_PATH] = {};
  GetModuleFileNameW(GetModuleHandleW(nullptr), folder, MAX_PATH);
  folder[MAX_PATH - 1] = L'\0';
  PathRemoveFileSpecW(folder);
  ShaderCacheDir = folder;
  ShaderCacheDir += kCacheFolder;

  if (!CreateDirectoryW(ShaderCacheDir.c_str(), nullptr)) {
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS)
      LogLine(GetLog(), LogInfo, "Cannot create directory for cache : %x", static_cast<unsigned>(error));
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

ByteString ReadCacheFile(const std::wstring& name) {
  ByteString bytes;
  const FileHandle file = OpenCacheFile(name, L"rb");
  if (file == nullptr || !ReadWholeFile(file.get(), bytes)) bytes.clear();
  return bytes;
}

void WriteCacheFile(const std::wstring& name, const ByteString& bytes) {
  const FileHandle file = OpenCacheFile(name, L"wb");
  if (file != nullptr) std::fwrite(bytes.data(), 1, bytes.size(), file.get());
}
