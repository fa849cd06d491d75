#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "quelbrand_version.h"
#include "standin/standin.h"

namespace {

using standin::Host;
using standin::ReadLogLines;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(LogFile, LinesCarryLocalTimeInRegionalFormat) {
  std::setlocale(LC_ALL, "");
  std::set<std::string> acceptable;
  std::time_t start = std::time(nullptr);
  Host host;
  ASSERT_TRUE(host.LoadPlugin());
  ASSERT_TRUE(host.Query());
  std::time_t end = std::time(nullptr);
  for (std::time_t t = start; t <= end; ++t) {
    char text[64];
    std::strftime(text, sizeof text, "%c", std::localtime(&t));
    acceptable.insert(text);
  }

  auto lines = ReadLogLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "Quelbrand");
  EXPECT_EQ(standin::WithoutTime(lines[1]), standin::kVersionLine);
  std::smatch match;
  ASSERT_TRUE(std::regex_match(lines[2], match, std::regex(R"(\[([^\]]+)\]INFO: Queue OK)"))) << lines[2];
  EXPECT_TRUE(acceptable.count(match[1].str())) << match[1].str();
}

// The file properties and the log's second line name the same build.
TEST(LogFile, VersionResourceNamesTheBuildTheLogNames) {
  Host host;
  ASSERT_TRUE(host.LoadPlugin());
  char path[MAX_PATH];
  ASSERT_NE(GetModuleFileNameA(host.module(), path, MAX_PATH), 0u);
  std::vector<char> info(GetFileVersionInfoSizeA(path, nullptr));
  ASSERT_FALSE(info.empty());
  ASSERT_TRUE(GetFileVersionInfoA(path, 0, static_cast<DWORD>(info.size()), info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  char* text = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS,
            static_cast<DWORD>(QUELBRAND_VERSION_MAJOR << 16 | QUELBRAND_VERSION_MINOR));
  EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(QUELBRAND_VERSION_PATCH << 16));
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904B0\\ProductVersion",
                             reinterpret_cast<void**>(&text), &length));
  EXPECT_EQ(std::string("INFO: Quelbrand ") + text, standin::kVersionLine);
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904B0\\LegalCopyright",
                             reinterpret_cast<void**>(&text), &length));
  EXPECT_NE(std::string(text).find("MIT License"), std::string::npos) << text;
  EXPECT_EQ(standin::WithoutTime(ReadLogLines().at(1)), standin::kVersionLine);
}

TEST(LogFile, SecondStartTruncatesPreviousLog) {
  {
    std::ofstream old(standin::LogPath(), std::ios::binary);
    old << "line of an earlier run\nanother\n";
  }
  Host host;
  ASSERT_TRUE(host.LoadPlugin());
  const auto lines = ReadLogLines();
  EXPECT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines.at(0), "Quelbrand");
}

TEST(LogFile, MissingFolderSendsLinesToStandardError) {
  ASSERT_TRUE(RemoveDirectoryA("data\\skse\\plugins"));
  ASSERT_NE(std::freopen("stderr.txt", "w", stderr), nullptr);
  Host host;
  ASSERT_TRUE(host.LoadPlugin());
  EXPECT_TRUE(host.Query());
  EXPECT_TRUE(host.Load());
  std::fflush(stderr);
  std::string text = ReadFile("stderr.txt");
  EXPECT_EQ(text.find("Quelbrand\r\n"), 0u) << text;
  EXPECT_NE(text.find("]INFO: Queue OK\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("]INFO: SKSEPlugin_Load\r\n"), std::string::npos) << text;
}

}  // namespace
