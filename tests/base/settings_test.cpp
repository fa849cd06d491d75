#include "base/settings.h"

#include <gtest/gtest.h>

#include <string>

#include "standin/standin.h"

namespace {

struct Key {
  const char* section;
  const char* name;
  bool defaultValue;
};

// Every key the plug-in reads, with its default.
const Key kKeys[] = {
    {"Memory", "RecordFormHeapAllocateFailed", false},
    {"Memory", "FormHeapAllocateFromLargerSpace", false},
    {"Memory", "FixInfiniteLoad", true},
    {"Memory", "ReplaceDefaultHavokHeap", true},
    {"Optimize", "FasterLoading", true},
    {"Memory", "doNotReleaseHavokResource", false},
    {"Camera", "fix3rdPersonCameraScale", true},
    {"Optimize", "UseShaderCache", false},
    {"Exception", "MiniDumpWithFullMemory", false},
    {"Exception", "AutoSaveGame", true},
    {"Exception", "ReportToWindows", false},
};

bool Read(const char* key, bool defaultValue) {
  return ReadSettingBool("Test", key, defaultValue, SettingsPath());
}

TEST(Settings, PathIsGameFolderPlusPluginFolder) {
  EXPECT_STREQ(SettingsPath(), standin::SettingsFilePath().c_str());
  EXPECT_EQ(SettingsPath(), SettingsPath());
}

TEST(Settings, MissingFileGivesEveryDefault) {
  for (const Key& key : kKeys) {
    EXPECT_EQ(ReadSettingBool(key.section, key.name, key.defaultValue, SettingsPath()), key.defaultValue)
        << key.name;
  }
}

TEST(Settings, MissingKeysGiveDefaultsInAnExistingFile) {
  standin::WriteSettings("[Memory]\nSomethingElse=0\n[Camera]\n");
  for (const Key& key : kKeys) {
    EXPECT_EQ(ReadSettingBool(key.section, key.name, key.defaultValue, SettingsPath()), key.defaultValue)
        << key.name;
  }
}

TEST(Settings, ShippedFileRestatesEveryDefault) {
  std::string shipped = standin::GameFolder() + "\\Quelbrand.ini";
  ASSERT_NE(GetFileAttributesA(shipped.c_str()), INVALID_FILE_ATTRIBUTES) << shipped;
  for (const Key& key : kKeys) {
    // Read with the opposite default so that a missing key shows.
    EXPECT_EQ(ReadSettingBool(key.section, key.name, !key.defaultValue, shipped.c_str()), key.defaultValue)
        << key.name;
  }
}

// An empty value takes the default; blanks around a value do not count.
TEST(Settings, FalseOnlyForFalseOrZero) {
  standin::WriteSettings(
      "[Test]\n"
      "upper=FALSE\n"
      "mixed=FaLsE\n"
      "spaced=  false\n"
      "zero=0\n"
      "spacedZero= 0\n"
      "empty=\n"
      "blanks=\"  \"\n"
      "trailingZero=\"0  \"\n"
      "no=no\n"
      "off=off\n"
      "doubleZero=00\n"
      "one=1\n"
      "falsey=falsey\n"
      "tabbed=\tfalse\n"
      "longFalse=falsexxxxxxxxxxxxxxxxxxxxxxx\n"
      "cutToZero=\"                  0xxxx\"\n"
      "notCut=\"                0\"\n");
  EXPECT_FALSE(Read("upper", true));
  EXPECT_FALSE(Read("mixed", true));
  EXPECT_FALSE(Read("spaced", true));
  EXPECT_FALSE(Read("zero", true));
  EXPECT_FALSE(Read("spacedZero", true));
  EXPECT_FALSE(Read("empty", false));
  EXPECT_TRUE(Read("empty", true));
  EXPECT_FALSE(Read("blanks", false));
  EXPECT_FALSE(Read("trailingZero", true));
  EXPECT_TRUE(Read("no", false));
  EXPECT_TRUE(Read("off", false));
  EXPECT_TRUE(Read("doubleZero", false));
  EXPECT_TRUE(Read("one", false));
  EXPECT_TRUE(Read("falsey", false));
  EXPECT_TRUE(Read("longFalse", false));
  // Quotes keep the blanks: only 19 characters, 18 blanks and "0", are seen.
  EXPECT_FALSE(Read("cutToZero", true));
  EXPECT_FALSE(Read("notCut", true));
}

}  // namespace
