#include "base/settings.h"

#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/data_path.h"
#include "base/log.h"

namespace {

constexpr char kSettingsFile[] = "\\data\\skse\\plugins\\Quelbrand.ini";
constexpr DWORD kValueBufferSize = 20;
// Returned for a missing key: no text of an INI line can hold it.
constexpr char kMissing[] = "\n";
constexpr size_t kSettingsLineSize = 512;

char settingsPath[MAX_PATH];
bool settingsPathResolved;

struct SettingKey {
  const char* section;
  const char* key;
  bool defaultValue;
};

// Every key, grouped by section in the order the log lists them.
const SettingKey kSettingKeys[] = {
    {"Memory", "RecordFormHeapAllocateFailed", false},
    {"Memory", "FormHeapAllocateFromLargerSpace", false},
    {"Memory", "FixInfiniteLoad", true},
    {"Memory", "ReplaceDefaultHavokHeap", true},
    {"Memory", "doNotReleaseHavokResource", false},
    {"Optimize", "FasterLoading", true},
    {"Optimize", "UseShaderCache", false},
    {"Camera", "fix3rdPersonCameraScale", true},
    {"Exception", "MiniDumpWithFullMemory", false},
    {"Exception", "AutoSaveGame", true},
    {"Exception", "ReportToWindows", false},
};

enum class ValueKind { Missing, Empty, Recognised, Other };

struct Setting {
  bool value;
  ValueKind kind;
  char text[kValueBufferSize];
};

Setting ReadSetting(const char* section, const char* key, bool defaultValue, const char* path) {
  Setting setting = {defaultValue, ValueKind::Missing, {}};
  GetPrivateProfileStringA(section, key, kMissing, setting.text, kValueBufferSize, path);
  if (std::strcmp(setting.text, kMissing) == 0) {
    setting.text[0] = '\0';
    return setting;
  }
  std::string value(setting.text);
  value.erase(0, value.find_first_not_of(" \t"));
  value.erase(value.find_last_not_of(" \t") + 1);
  for (char& c : value) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (value.empty()) {
    setting.kind = ValueKind::Empty;
    return setting;
  }
  const bool isFalse = value == "false" || value == "0";
  setting.value = !isFalse;
  setting.kind = isFalse || value == "true" || value == "1" ? ValueKind::Recognised : ValueKind::Other;
  return setting;
}

void WarnAbout(const SettingKey& key, const Setting& setting) {
  if (setting.kind == ValueKind::Empty) {
    LogLine(GetLog(), LogWarning, "[%s] %s has an empty value: the default %d is used", key.section, key.key,
            setting.value ? 1 : 0);
  } else if (setting.kind == ValueKind::Other) {
    LogLine(GetLog(), LogWarning, "[%s] %s=\"%s\" is not 0, 1, true or false: taken as 1 (on)", key.section,
            key.key, setting.text);
  }
}

}  // namespace

const char* SettingsPath() {
  if (!settingsPathResolved) {
    GameFolderPath(kSettingsFile, settingsPath);
    settingsPathResolved = true;
  }
  return settingsPath;
}

bool ReadSettingBool(const char* section, const char* key, bool defaultValue, const char* path) {
  return ReadSetting(section, key, defaultValue, path).value;
}

void LogSettings() {
  const char* path = SettingsPath();
  if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) {
    LogLine(GetLog(), LogInfo, "Settings file %s not found: every key has its default", path);
  } else {
    LogLine(GetLog(), LogInfo, "Settings file %s", path);
  }
  char line[kSettingsLineSize];
  size_t length = 0;
  for (size_t i = 0; i < sizeof kSettingKeys / sizeof kSettingKeys[0]; ++i) {
    const SettingKey& key = kSettingKeys[i];
    const Setting setting = ReadSetting(key.section, key.key, key.defaultValue, path);
    WarnAbout(key, setting);
    if (length == 0) length = std::snprintf(line, sizeof line, "[%s]", key.section);
    length += std::snprintf(
        line + length, sizeof line - length, " %s=%d (%s)", key.key, setting.value ? 1 : 0,
        setting.kind == ValueKind::Missing || setting.kind == ValueKind::Empty ? "default" : "file");
    const bool sectionEnds = i + 1 == sizeof kSettingKeys / sizeof kSettingKeys[0] ||
                             std::strcmp(kSettingKeys[i + 1].section, key.section) != 0;
    if (sectionEnds) {
      LogLine(GetLog(), LogInfo, "%s", line);
      length = 0;
    }
  }
}
