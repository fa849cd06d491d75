#include "base/settings.h"

#include <shlwapi.h>
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <string>

namespace {

constexpr char kSettingsFile[] = "\\data\\skse\\plugins\\Quelbrand.ini";
constexpr DWORD kValueBufferSize = 20;

char settingsPath[MAX_PATH];
bool settingsPathResolved;

}  // namespace

const char* SettingsPath() {
  if (!settingsPathResolved) {
    GetModuleFileNameA(nullptr, settingsPath, MAX_PATH);
    PathRemoveFileSpecA(settingsPath);
    PathAppendA(settingsPath, kSettingsFile);
    settingsPathResolved = true;
  }
  return settingsPath;
}

bool ReadSettingBool(const char* section, const char* key, bool defaultValue, const char* path) {
  char defaultText[4];
  std::snprintf(defaultText, sizeof defaultText, "%d", defaultValue ? 1 : 0);
  char buffer[kValueBufferSize] = {};
  GetPrivateProfileStringA(section, key, defaultText, buffer, kValueBufferSize, path);

  std::string value(buffer);
  value.erase(0, value.find_first_not_of(' '));
  for (char& c : value) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return !(value == "false" || value == "0");
}
