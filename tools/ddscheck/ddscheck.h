#pragma once

// The checker's work: which files to look at, the plug-in's verdict on each,
// and the reports (text for people, JSON for tools).

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "textures/dds_verdict.h"

struct FileVerdict {
  std::string path;   // UTF-8 (on Windows; elsewhere the name's own bytes)
  std::string error;  // why the file could not be read; empty when judged
  DdsVerdict verdict;
};

struct CheckSummary {
  uint64_t files = 0;
  uint64_t unreadable = 0;
  uint64_t served = 0;
  uint64_t textureBytes = 0;  // of every served file
  uint64_t reasons[DdsReasonCount] = {};
  void Add(const FileVerdict& file);
};

FileVerdict CheckFile(const std::filesystem::path& path, const DdsCall& call);

// The files named, and every ".dds" file (any case) in the folder trees
// named, sorted by path. Folders that cannot be read become entries with an
// error; named folders without any ".dds" file go to `emptyFolders`.
std::vector<FileVerdict> ListFiles(const std::vector<std::string>& paths,
                                   std::vector<std::string>* emptyFolders);

// D3DFORMAT name ("DXT1", "A8R8G8B8"), or the number as text.
std::string FormatName(uint32_t format);
// The file's format: its name, else the pixel format's four-character code
// ("ATI2", "DX10"), else "unknown".
std::string FileFormatName(const DdsVerdict& verdict);

void WriteTextLine(std::FILE* out, const FileVerdict& file);
void WriteTextSummary(std::FILE* out, const CheckSummary& summary);
void WriteJsonFile(std::FILE* out, const FileVerdict& file, bool first);
void WriteJsonSummary(std::FILE* out, const CheckSummary& summary);
// A JSON string of `text`; bytes that are not UTF-8 become \u00XX (read as
// Latin-1), so that any file name gives valid JSON.
void WriteJsonString(std::FILE* out, const std::string& text);
