#include "base/data_path.h"

#include <shlwapi.h>

#include <cstring>

#include "base/log.h"

DataFile LogFile;
DataFile DumpFile;

namespace {

// Opening leaves an existing file as it is; a new one stays, empty, for the
// caller to write.
bool CanWrite(const char* path) {
  const HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

}  // namespace

void GameFolderPath(const char* relative, char (&out)[MAX_PATH]) {
  GetModuleFileNameA(nullptr, out, MAX_PATH);
  PathRemoveFileSpecA(out);
  PathAppendA(out, relative);
}

const char* ChooseDataFile(const char* relative, DataFile& chosen) {
  char windowsPath[MAX_PATH] = {};
  std::strncpy(windowsPath, relative, MAX_PATH - 1);
  for (char* at = windowsPath; *at != '\0'; ++at)
    if (*at == '/') *at = '\\';
  if (CanWrite(windowsPath)) {
    const DWORD length = GetFullPathNameA(windowsPath, MAX_PATH, chosen.path, nullptr);
    if (length == 0 || length >= MAX_PATH) std::strcpy(chosen.path, windowsPath);
    chosen.folder = DataFolder::Working;
    return chosen.path;
  }
  GameFolderPath(windowsPath, chosen.path);
  chosen.folder = DataFolder::Game;
  return chosen.path;
}

void LogDataFolder() {
  if (LogFile.folder == DataFolder::Working) {
    LogLine(GetLog(), LogInfo, "Log file %s", LogFile.path);
  } else {
    LogLine(GetLog(), LogInfo, "Log file %s (under the game's folder: the working folder has no %s)",
            LogFile.path, "data\\skse\\plugins");
  }
}
