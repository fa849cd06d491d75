#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

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
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Quelbrand");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(lines[1], match, std::regex(R"(\[([^\]]+)\]INFO: Queue OK)"))) << lines[1];
  EXPECT_TRUE(acceptable.count(match[1].str())) << match[1].str();
}

TEST(LogFile, SecondStartTruncatesPreviousLog) {
  {
    std::ofstream old(standin::LogPath(), std::ios::binary);
    old << "line of an earlier run\nanother\n";
  }
  Host host;
  ASSERT_TRUE(host.LoadPlugin());
  std::string text = ReadFile(standin::LogPath());
  EXPECT_EQ(text, "Quelbrand\r\n");
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
