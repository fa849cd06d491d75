#include "base/log.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <regex>
#include <string>
#include <thread>

#include "base/regional_time.h"
#include "base/text_format.h"
#include "standin/standin.h"

namespace {

TEST(Log, LevelsUpToInfoAreWrittenDebugIsDropped) {
  PluginLog& log = GetLog();
  EXPECT_EQ(&log, &GetLog());
  LogLine(log, LogAlwaysShow, "zero %d", 0);
  LogLine(log, LogError, "one %s", "x");
  LogLine(log, LogWarning, "two");
  LogLine(log, LogInfo, "three %08X", 0xABCu);
  LogLine(log, LogDebug, "four");
  LogRaw(log, "raw %d", 5);

  auto lines = standin::ReadLogLines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(standin::WithoutTime(lines[0]), "Always Show: zero 0");
  EXPECT_EQ(standin::WithoutTime(lines[1]), "ERROR: one x");
  EXPECT_EQ(standin::WithoutTime(lines[2]), "WARNING: two");
  EXPECT_EQ(standin::WithoutTime(lines[3]), "INFO: three 00000ABC");
  EXPECT_EQ(lines[4], "raw 5");
}

TEST(Log, ConcurrentLinesNeverInterleave) {
  constexpr int kLines = 2000;
  const std::string filler(100, 'x');
  auto writer = [&](char name) {
    for (int i = 0; i < kLines; ++i) LogLine(GetLog(), LogInfo, "%c %d %s", name, i, filler.c_str());
  };
  std::thread a(writer, 'A');
  std::thread b(writer, 'B');
  a.join();
  b.join();

  const std::regex shape(R"(\[[^\]]+\]INFO: ([AB]) (\d+) x{100})");
  int next[2] = {0, 0};
  auto lines = standin::ReadLogLines();
  ASSERT_EQ(lines.size(), 2u * kLines);
  for (const auto& line : lines) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, shape)) << line;
    int writer_index = match[1].str() == "A" ? 0 : 1;
    // Each writer's lines appear whole and in its own order.
    EXPECT_EQ(std::stoi(match[2].str()), next[writer_index]++);
  }
}

// The log's own formatter, which takes no lock and no heap, against the C
// runtime's printf for what the plug-in's messages use; a short buffer cuts
// the text and stays terminated.
TEST(Log, FormatterAgreesWithPrintf) {
  char ours[64], theirs[64];
  auto same = [&](const char* format, auto... values) {
    FormatTextf(ours, sizeof ours, format, values...);
    std::snprintf(theirs, sizeof theirs, format, values...);
    EXPECT_STREQ(ours, theirs) << format;
  };
  same("%d|%5d|%-5d|%05d|%+d|% d|%.3d", -42, 42, 42, -42, 7, 7, 5);
  same("%u %x %X %08x %o", 4000000000u, 0xBEEFu, 0xBEEFu, 0xABu, 8u);
  same("%lu %ld %lld %llu %hd %hhu %zu", 5ul, -6l, -1234567890123ll, 18446744073709551615ull, 70000, 300,
       size_t{9});
  same("[%s] [%8s] [%-8s] [%.2s] [%c] %% [%*d] [%.*s]", "abc", "abc", "abc", "abc", 'z', 4, 1, 2, "xyz");
  FormatTextf(ours, sizeof ours, "%ls %s", L"wide", static_cast<const char*>(nullptr));
  EXPECT_STREQ(ours, "wide (null)");
  EXPECT_EQ(FormatTextf(ours, 6, "%d", 12345678), 5u);
  EXPECT_STREQ(ours, "12345");
}

// The crash lines' time stamps, made without the system's locale code, read
// as the system would write them: for each rule of the patterns, in the
// test's locale and in another one (see the test's environment).
TEST(Log, RegionalTimeAgreesWithTheSystem) {
  RegionalTime regional;
  ASSERT_TRUE(ReadRegionalTime(regional));
  const char* const dates[] = {
      "", "d/M/yy", "dd.MM.yyyy", "yyyy-MM-dd", "ddd d MMM yyyy", "dddd, MMMM dd", "'Day' d''"};
  const char* const times[] = {"", "h:mm:ss tt", "HH:mm:ss", "H.m.s t", "hh 'o''clock'"};
  for (SYSTEMTIME when : {SYSTEMTIME{2026, 12, 2, 8, 19, 6, 5, 0}, SYSTEMTIME{2009, 1, 4, 1, 0, 0, 0, 0},
                          SYSTEMTIME{2031, 7, 0, 20, 12, 30, 59, 0}}) {
    for (size_t i = 0; i < std::size(dates) || i < std::size(times); ++i) {
      RegionalTime patterns = regional;
      if (i > 0 && i < std::size(dates)) std::strcpy(patterns.datePattern, dates[i]);
      if (i > 0 && i < std::size(times)) std::strcpy(patterns.timePattern, times[i]);
      char system[200] = {}, ours[200];
      const int date = GetDateFormatA(LOCALE_USER_DEFAULT, 0, &when, patterns.datePattern, system, 100);
      ASSERT_GT(date, 0) << patterns.datePattern;
      system[date - 1] = ' ';
      ASSERT_GT(GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &when, patterns.timePattern, system + date, 100), 0);
      FormatRegionalTime(patterns, when, ours, sizeof ours);
      EXPECT_STREQ(ours, system) << patterns.datePattern << " | " << patterns.timePattern;
    }
  }
}

}  // namespace
