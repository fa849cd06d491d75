#include "ddscheck.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <system_error>

#include "mapped_file.h"
#include "textures/dds_format.h"

namespace fs = std::filesystem;

namespace {

struct FormatNameRow {
  uint32_t format;
  const char* name;
};

constexpr FormatNameRow kFormatNames[] = {
    {20, "R8G8B8"},       {21, "A8R8G8B8"},    {22, "X8R8G8B8"},
    {23, "R5G6B5"},       {24, "X1R5G5B5"},    {25, "A1R5G5B5"},
    {26, "A4R4G4B4"},     {28, "A8"},          {29, "A8R3G3B2"},
    {30, "X4R4G4B4"},     {31, "A2B10G10R10"}, {32, "A8B8G8R8"},
    {33, "X8B8G8R8"},     {34, "G16R16"},      {35, "A2R10G10B10"},
    {36, "A16B16G16R16"}, {50, "L8"},          {51, "A8L8"},
    {52, "A4L4"},         {81, "L16"},         {110, "Q16W16V16U16"},
    {111, "R16F"},        {112, "G16R16F"},    {113, "A16B16G16R16F"},
    {114, "R32F"},        {115, "G32R32F"},    {116, "A32B32G32R32F"},
    {117, "CxV8U8"},
};

bool IsDdsName(const fs::path& path) {
  std::string extension = path.extension().u8string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension == ".dds";
}

FileVerdict Entry(const fs::path& path, const std::string& error) {
  FileVerdict file;
  file.path = path.u8string();
  file.error = error;
  return file;
}

void AddTree(const fs::path& root, std::vector<FileVerdict>* files) {
  std::error_code error;
  fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, error);
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    std::error_code typeError;
    if (it->is_regular_file(typeError) && IsDdsName(it->path())) files->push_back(Entry(it->path(), ""));
  }
  if (error) files->push_back(Entry(root, "cannot list the folder: " + error.message()));
}

void WriteJsonString(std::FILE* out, const std::string& text) {
  std::fputc('"', out);
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      std::fprintf(out, "\\%c", c);
    } else if (c < 0x20) {
      std::fprintf(out, "\\u%04x", c);
    } else {
      std::fputc(c, out);
    }
  }
  std::fputc('"', out);
}

}  // namespace

void CheckSummary::Add(const FileVerdict& file) {
  ++files;
  if (!file.error.empty()) {
    ++unreadable;
    return;
  }
  ++reasons[file.verdict.reason];
  if (IsServed(file.verdict.reason)) {
    ++served;
    textureBytes += file.verdict.textureBytes;
  }
}

FileVerdict CheckFile(const fs::path& path, const DdsCall& call) {
  const MappedFile mapped(path);
  if (!mapped.ok()) return Entry(path, mapped.error());
  FileVerdict file;
  file.path = path.u8string();
  file.verdict = JudgeDds(mapped.data(), mapped.size(), call);
  return file;
}

std::vector<FileVerdict> ListFiles(const std::vector<std::string>& paths) {
  std::vector<FileVerdict> files;
  for (const std::string& name : paths) {
    const fs::path path = fs::u8path(name);
    std::error_code error;
    if (fs::is_directory(path, error)) {
      AddTree(path, &files);
    } else {
      files.push_back(Entry(path, ""));
    }
  }
  std::sort(files.begin(), files.end(),
            [](const FileVerdict& a, const FileVerdict& b) { return a.path < b.path; });
  return files;
}

std::string FormatName(uint32_t format) {
  for (const FormatNameRow& row : kFormatNames) {
    if (row.format == format) return row.name;
  }
  const bool printable = std::all_of(reinterpret_cast<const unsigned char*>(&format),
                                     reinterpret_cast<const unsigned char*>(&format) + 4,
                                     [](unsigned char c) { return std::isalnum(c) != 0; });
  if (format > 0xFFFF && printable) {
    const char text[5] = {static_cast<char>(format), static_cast<char>(format >> 8),
                          static_cast<char>(format >> 16), static_cast<char>(format >> 24), 0};
    return text;
  }
  return std::to_string(format);
}

void WriteTextLine(std::FILE* out, const FileVerdict& file) {
  const DdsVerdict& v = file.verdict;
  if (!file.error.empty()) {
    std::fprintf(out, "%s: unreadable (%s)\n", file.path.c_str(), file.error.c_str());
  } else if (IsServed(v.reason)) {
    std::fprintf(out, "%s: %s, %s %ux%u, %u levels, %" PRIu64 " bytes as %s\n", file.path.c_str(),
                 DdsReasonName(v.reason), FormatName(v.format).c_str(), v.width, v.height, v.fullChainLevels,
                 v.textureBytes, FormatName(v.textureFormat).c_str());
  } else if (v.width != 0 || v.height != 0 || v.format != 0) {
    std::fprintf(out, "%s: refused (%s), %s %ux%u, %u of %u levels\n", file.path.c_str(),
                 DdsReasonName(v.reason), FormatName(v.format).c_str(), v.width, v.height, v.storedLevels,
                 v.fullChainLevels);
  } else {
    std::fprintf(out, "%s: refused (%s)\n", file.path.c_str(), DdsReasonName(v.reason));
  }
}

void WriteTextSummary(std::FILE* out, const CheckSummary& s) {
  std::fprintf(out, "\n%" PRIu64 " files: %" PRIu64 " served (%.1f MiB of textures), %" PRIu64 " refused",
               s.files, s.served, static_cast<double>(s.textureBytes) / (1024.0 * 1024.0),
               s.files - s.served - s.unreadable);
  if (s.unreadable != 0) std::fprintf(out, ", %" PRIu64 " unreadable", s.unreadable);
  std::fprintf(out, "\n");
  for (uint32_t reason = 0; reason < DdsReasonCount; ++reason) {
    if (s.reasons[reason] != 0) {
      std::fprintf(out, "  %-18s %" PRIu64 "\n", DdsReasonName(static_cast<DdsReason>(reason)),
                   s.reasons[reason]);
    }
  }
}

void WriteJsonFile(std::FILE* out, const FileVerdict& file, bool first) {
  const DdsVerdict& v = file.verdict;
  std::fprintf(out, "%s\n    {\"path\": ", first ? "" : ",");
  WriteJsonString(out, file.path);
  if (!file.error.empty()) {
    std::fprintf(out, ", \"served\": false, \"reason\": \"unreadable\", \"error\": ");
    WriteJsonString(out, file.error);
    std::fprintf(out, "}");
    return;
  }
  std::fprintf(
      out,
      ", \"served\": %s, \"reason\": \"%s\", \"format\": \"%s\", \"width\": %u, \"height\": %u, "
      "\"levels\": %u, \"fullChainLevels\": %u, \"textureFormat\": \"%s\", \"textureBytes\": %" PRIu64 "}",
      IsServed(v.reason) ? "true" : "false", DdsReasonName(v.reason), FormatName(v.format).c_str(), v.width,
      v.height, v.storedLevels, v.fullChainLevels,
      IsServed(v.reason) ? FormatName(v.textureFormat).c_str() : "", v.textureBytes);
}

void WriteJsonSummary(std::FILE* out, const CheckSummary& s) {
  std::fprintf(out,
               "\n  ],\n  \"summary\": {\"files\": %" PRIu64 ", \"served\": %" PRIu64
               ", \"unreadable\": %" PRIu64 ", \"textureBytes\": %" PRIu64 ", \"reasons\": {",
               s.files, s.served, s.unreadable, s.textureBytes);
  bool first = true;
  for (uint32_t reason = 0; reason < DdsReasonCount; ++reason) {
    if (s.reasons[reason] == 0) continue;
    std::fprintf(out, "%s\"%s\": %" PRIu64, first ? "" : ", ", DdsReasonName(static_cast<DdsReason>(reason)),
                 s.reasons[reason]);
    first = false;
  }
  std::fprintf(out, "}}\n}\n");
}
