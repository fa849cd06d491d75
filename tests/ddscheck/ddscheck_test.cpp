// The checker: its verdict on every kind of file and call, the memory it
// reports, the files it finds in folders and its JSON text.

#include "ddscheck.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "dds_builder.h"
#include "dds_samples.h"

namespace fs = std::filesystem;

namespace {

DdsVerdict Judge(const std::vector<uint8_t>& bytes, const DdsCall& call = {}) {
  return JudgeDds(bytes.data(), static_cast<uint32_t>(bytes.size()), call);
}

void WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

template <typename Write>
std::string Printed(Write write) {
  std::FILE* out = std::tmpfile();
  write(out);
  std::string text(static_cast<size_t>(std::ftell(out)), '\0');
  std::rewind(out);
  text.resize(std::fread(&text[0], 1, text.size(), out));
  std::fclose(out);
  return text;
}

TEST(DdsCheck, EverySampleGetsItsVerdict) {
  std::set<uint32_t> reasons;
  for (const DdsSample& sample : DdsSamples()) {
    EXPECT_STREQ(DdsReasonName(Judge(sample.bytes, sample.call).reason), DdsReasonName(sample.expected))
        << sample.name;
    reasons.insert(sample.expected);
  }
  EXPECT_EQ(reasons.size(), DdsReasonCount);
}

TEST(DdsCheck, MemoryIsTheFullChainInTheTexturesFormat) {
  const DdsVerdict dxt1 = Judge(MakeDdsWithMips(Dxt1PixelFormat(), 256, 256));
  EXPECT_EQ(dxt1.textureBytes, 32768u + 8192 + 2048 + 512 + 128 + 32 + 8 + 8 + 8);
  EXPECT_EQ(dxt1.textureFormat, kFormatDxt1);
  const DdsVerdict widened = Judge(MakeDds({R8G8B8PixelFormat(), 20, 12, 1}));
  EXPECT_EQ(widened.textureBytes, 4u * (20 * 12 + 10 * 6 + 5 * 3 + 2 * 1 + 1));
  EXPECT_EQ(widened.textureFormat, kFormatA8R8G8B8);
  EXPECT_EQ(Judge(MakeDds({Dxt1PixelFormat(), 256, 256, 1})).textureBytes, 0u);
}

TEST(DdsCheck, FoldersYieldTheirDdsFilesSortedAndUnreadableOnesAreNamed) {
  const fs::path root = fs::temp_directory_path() /
                        ("ddscheck-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  fs::remove_all(root);
  WriteFile(root / "b" / "deep" / "full.DDS", MakeDdsWithMips(Dxt1PixelFormat(), 32, 32));
  WriteFile(root / "a-top.dds", MakeDds({Dxt1PixelFormat(), 32, 32, 1}));
  WriteFile(root / "b" / "empty.dds", {});
  WriteFile(root / "b" / "notes.txt", {'x'});
  const std::string missing = (root / "missing.dds").u8string();
  WriteFile(root / "packed" / "textures.bsa", {'B'});

  CheckSummary summary;
  std::vector<std::string> lines;
  std::vector<std::string> emptyFolders;
  for (FileVerdict& file :
       ListFiles({root.u8string(), missing, (root / "packed").u8string()}, &emptyFolders)) {
    file = CheckFile(fs::u8path(file.path), DdsCall{});
    summary.Add(file);
    lines.push_back(fs::u8path(file.path).filename().u8string() + " " +
                    (file.error.empty() ? DdsReasonName(file.verdict.reason) : "unreadable"));
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"a-top.dds partial chain", "full.DDS served",
                                             "empty.dds not a DDS file", "missing.dds unreadable"}));
  EXPECT_EQ(summary.files, 4u);
  EXPECT_EQ(summary.served, 1u);
  EXPECT_EQ(summary.unreadable, 1u);
  EXPECT_EQ(summary.reasons[DdsPartialChain], 1u);
  EXPECT_EQ(summary.textureBytes, 512u + 128 + 32 + 8 + 8 + 8);
  EXPECT_EQ(emptyFolders, std::vector<std::string>{(root / "packed").u8string()});
#ifndef _WIN32
  // Opening a FIFO for reading would wait for a writer.
  ASSERT_EQ(mkfifo((root / "pipe.dds").c_str(), 0600), 0);
  EXPECT_EQ(CheckFile(root / "pipe.dds", DdsCall{}).error, "not a regular file");
#endif
  fs::remove_all(root);
}

TEST(DdsCheck, JsonEscapesPathsAndCountsReasons) {
  FileVerdict file;
  file.path = "odd\"name\\with\nbreak-\xE9-\xC3\xA9.dds";
  file.verdict = Judge(MakeDds({Dxt1PixelFormat(), 8, 8, 1}));
  CheckSummary summary;
  summary.Add(file);
  const std::string text = Printed([&](std::FILE* out) {
    WriteJsonFile(out, file, true);
    WriteJsonSummary(out, summary);
  });
  EXPECT_NE(
      text.find(
          R"("path": "odd\"name\\with\u000abreak-\u00e9-é.dds", "served": false, "reason": "partial chain")"),
      std::string::npos)
      << text;
  EXPECT_NE(text.find(R"("reasons": {"partial chain": 1}})"), std::string::npos) << text;
}

TEST(DdsCheck, TextNamesUnknownFormatsByTheirCodeAndCountsInWords) {
  const FileVerdict files[] = {
      {"ati2.dds", "", Judge(MakeDdsWithMips(FourCcPixelFormat(MakeFourCc('A', 'T', 'I', '2')), 4, 4))},
      {"dx10.dds", "", Judge(MakeDds({FourCcPixelFormat(kFourCcDx10), 8, 8, 1}))},
      {"size.dds", "", Judge(MakeDds({{31, 0, 0, 0, 0, 0, 0, 0}, 8, 8, 1}))},
      {"one.dds", "", Judge(MakeDds({A8R8G8B8PixelFormat(), 1, 1, 0}))},
  };
  CheckSummary summary;
  summary.Add(files[3]);
  const std::string text = Printed([&](std::FILE* out) {
    for (const FileVerdict& file : files) WriteTextLine(out, file);
    WriteTextSummary(out, summary);
  });
  EXPECT_EQ(text.substr(0, text.find("\n\n")),
            "ati2.dds: left to D3DX (format), ATI2 4x4, 3 of 3 levels\n"
            "dx10.dds: left to D3DX (DX10 header), DX10 8x8, 1 of 4 levels\n"
            "size.dds: left to D3DX (damaged header)\n"
            "one.dds: served as A8R8G8B8 1x1, 1 level, 4 bytes (file: A8R8G8B8 1x1, 1 of 1 level)");
  EXPECT_NE(text.find("\n1 file: 1 served"), std::string::npos) << text;
}

}  // namespace
