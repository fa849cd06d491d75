#include "crash/crash_settings.h"

#include "base/settings.h"

namespace {

CrashSettings settings = {false, true, false};

}  // namespace

void ReadCrashSettings() {
  const char* path = SettingsPath();
  settings.fullMemory = ReadSettingBool("Exception", "MiniDumpWithFullMemory", false, path);
  settings.autoSave = ReadSettingBool("Exception", "AutoSaveGame", true, path);
  settings.reportToWindows = ReadSettingBool("Exception", "ReportToWindows", false, path);
}

CrashSettings LoadedCrashSettings() { return settings; }
