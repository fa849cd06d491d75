#pragma once

// Full path of the settings file: the game executable's folder followed by
// "\data\skse\plugins\Quelbrand.ini", resolved on first use.
const char* SettingsPath();

// Reads a boolean key. A missing file or key, or an empty value, gives
// `defaultValue`; a value is false when, with surrounding blanks removed and
// lower-cased, it reads "false" or "0", and true otherwise. At most 19
// characters of a value are seen.
bool ReadSettingBool(const char* section, const char* key, bool defaultValue, const char* path);

// Writes which settings file is used (or that there is none) and, per
// section, every key's effective value and where it came from; a value that
// is not 0, 1, true or false gets a WARNING line saying how it was taken.
void LogSettings();
