#pragma once

// Full path of the settings file: the game executable's folder followed by
// "\data\skse\plugins\Quelbrand.ini", resolved on first use.
const char* SettingsPath();

// Reads a boolean key. A missing file or key gives `defaultValue`; a value is
// false only when, after leading spaces are removed and it is lower-cased, it
// reads "false" or "0". At most 19 characters of a value are seen.
bool ReadSettingBool(const char* section, const char* key, bool defaultValue, const char* path);
