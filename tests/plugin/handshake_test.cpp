#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "standin/standin.h"

namespace {

using standin::Host;
using standin::ReadLogLines;
using standin::WithoutTime;

std::vector<std::string> LogWithoutTimes() {
  std::vector<std::string> lines;
  for (const auto& line : ReadLogLines()) lines.push_back(WithoutTime(line));
  return lines;
}

void ExpectDescriptorFilled(const Host& host) {
  EXPECT_EQ(host.descriptor().infoVersion, 1u);
  ASSERT_NE(host.descriptor().name, nullptr);
  EXPECT_STREQ(host.descriptor().name, "Quelbrand");
  EXPECT_EQ(host.descriptor().version, 1u);
}

TEST(Handshake, StartUpLogsNameQueryAndLoadInOrder) {
  Host host;
  ASSERT_TRUE(host.LoadPlugin());
  EXPECT_TRUE(host.Query());
  EXPECT_TRUE(host.Load());
  ExpectDescriptorFilled(host);
  EXPECT_EQ(host.hostFunctionCalls(), 1);

  std::vector<std::string> expected = {"Quelbrand",
                                       standin::kVersionLine,
                                       "INFO: Queue OK",
                                       "INFO: Memory Hooked",
                                       "INFO: Hooked D3DX9_42.dll D3DXCreateTextureFromFileInMemory",
                                       "INFO: Hooked D3DX9_43.dll D3DXCreateTextureFromFileInMemoryEx",
                                       "INFO: SKSEPlugin_Load"};
  EXPECT_EQ(LogWithoutTimes(), expected);
}

TEST(Handshake, EditorIsRefusedAfterDescriptorAndHostCall) {
  Host host;
  ASSERT_TRUE(host.LoadPlugin());
  EXPECT_FALSE(host.Query(standin::kRuntime1_9_32, true));
  ExpectDescriptorFilled(host);
  EXPECT_EQ(host.hostFunctionCalls(), 1);
  auto lines = LogWithoutTimes();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2], "ERROR: loaded in editor, marking as incompatible");
}

TEST(Handshake, RuntimeVersionBoundary) {
  Host host;
  ASSERT_TRUE(host.LoadPlugin());
  EXPECT_FALSE(host.Query(0x091FFFFF));
  ExpectDescriptorFilled(host);
  EXPECT_TRUE(host.Query(0x09200000));
  EXPECT_FALSE(host.Query(0x0000ABCD));
  EXPECT_TRUE(host.Query(0xFFFFFFFF));

  std::vector<std::string> expected = {
      "Quelbrand",
      standin::kVersionLine,
      "ERROR: unsupported runtime version 091FFFFF",
      "INFO: Queue OK",
      "ERROR: unsupported runtime version 0000ABCD",
      "INFO: Queue OK",
  };
  EXPECT_EQ(LogWithoutTimes(), expected);
}

TEST(Handshake, LoadWithoutAcceptedQueryStillSucceeds) {
  Host host;
  ASSERT_TRUE(host.LoadPlugin());
  EXPECT_FALSE(host.Query(0x09100000));
  EXPECT_TRUE(host.Load());
  auto lines = LogWithoutTimes();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "INFO: SKSEPlugin_Load");
}

TEST(Handshake, NullRecordsAreRefusedNotDereferenced) {
  Host host;
  ASSERT_TRUE(host.LoadPlugin());
  using QueryFn = bool (*)(const void*, void*);
  auto query =
      reinterpret_cast<QueryFn>(reinterpret_cast<void*>(GetProcAddress(host.module(), "SKSEPlugin_Query")));
  ASSERT_NE(query, nullptr);
  EXPECT_FALSE(query(nullptr, nullptr));
  standin::Descriptor descriptor = {};
  EXPECT_FALSE(query(nullptr, &descriptor));
  EXPECT_STREQ(descriptor.name, "Quelbrand");
}

}  // namespace
