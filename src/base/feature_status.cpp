#include "base/feature_status.h"

#include <cstdio>

#include "base/log.h"
#include "base/settings.h"

namespace {

constexpr size_t kLineSize = 1024;

struct FeatureRecord {
  const char* name;
  // Made by jump writes alone, which take effect outside any transaction.
  bool jumpsOnly;
  FeatureState state;
  const char* detail;
};

FeatureRecord features[] = {
    {"crash handler", false, FeatureState::NotInstalled, nullptr},
    {"Havok heap", false, FeatureState::NotInstalled, nullptr},
    {"form-heap failure log", false, FeatureState::NotInstalled, nullptr},
    {"form-heap larger space", true, FeatureState::NotInstalled, nullptr},
    {"infinite-load fix", false, FeatureState::NotInstalled, nullptr},
    {"Havok resource retention", false, FeatureState::NotInstalled, nullptr},
    {"faster texture loading", false, FeatureState::NotInstalled, nullptr},
    {"shader cache", false, FeatureState::NotInstalled, nullptr},
    {"camera scale fix", false, FeatureState::NotInstalled, nullptr},
    {"SIMD math", false, FeatureState::NotInstalled, nullptr},
};
static_assert(sizeof features / sizeof features[0] == static_cast<size_t>(Feature::Count));

const char* Reason(FeatureState state) {
  switch (state) {
    case FeatureState::NotInstalled:
      return "not installed";
    case FeatureState::SettingOff:
      return "setting off";
    case FeatureState::RoutineMissing:
      return "routine not found";
    case FeatureState::CommitFailed:
      return "commit failed";
    default:
      return "";
  }
}

// Appends ", name (detail)" or ", name (reason)" to `line`.
void Append(char (&line)[kLineSize], size_t& length, bool& first, const FeatureRecord& record,
            const char* note) {
  if (length >= kLineSize) return;
  const int written = std::snprintf(line + length, kLineSize - length, note != nullptr ? "%s%s (%s)" : "%s%s",
                                    first ? "" : ", ", record.name, note);
  if (written > 0) length += static_cast<size_t>(written);
  first = false;
}

}  // namespace

void SetFeatureState(Feature feature, FeatureState state, const char* detail) {
  FeatureRecord& record = features[static_cast<size_t>(feature)];
  record.state = state;
  if (detail != nullptr) record.detail = detail;
}

bool ReadFeatureSetting(Feature feature, const char* section, const char* key, bool defaultValue) {
  const bool on = ReadSettingBool(section, key, defaultValue, SettingsPath());
  SetFeatureState(feature, on ? FeatureState::Queued : FeatureState::SettingOff);
  return on;
}

void SettleFeatures(LONG commitError) {
  for (FeatureRecord& record : features) {
    if (record.state != FeatureState::Queued) continue;
    record.state =
        commitError == NO_ERROR || record.jumpsOnly ? FeatureState::On : FeatureState::CommitFailed;
  }
}

void LogActiveFixes() {
  char line[kLineSize];
  size_t length = 0;
  bool first = true;
  for (const FeatureRecord& record : features)
    if (record.state == FeatureState::On) Append(line, length, first, record, record.detail);
  if (first) length = static_cast<size_t>(std::snprintf(line, kLineSize, "none"));
  bool firstOff = true;
  for (const FeatureRecord& record : features) {
    if (record.state == FeatureState::On) continue;
    if (firstOff && length < kLineSize)
      length += static_cast<size_t>(std::snprintf(line + length, kLineSize - length, "; not in effect: "));
    Append(line, length, firstOff, record, Reason(record.state));
  }
  LogLine(GetLog(), LogInfo, "Active fixes: %s", line);
}
