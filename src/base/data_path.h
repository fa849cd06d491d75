#pragma once

#include <windows.h>

#include <cstdint>

// Where a file of the plug-in's data folder ("data/skse/plugins/...") is
// written. The working folder comes first, as it always has; a game started
// from another folder has no data folder there, and its log and dump then go
// under the game executable's folder instead of being lost.
enum class DataFolder : uint8_t { Working, Game };

struct DataFile {
  char path[MAX_PATH];
  DataFolder folder;
};

// Chooses the place of `relative` (a path with '/' separators), records it in
// `chosen` and returns its full path: under the working folder when a file
// can be opened for writing there, else under the game executable's folder.
const char* ChooseDataFile(const char* relative, DataFile& chosen);

// `relative` (with '\\' separators) under the game executable's folder.
void GameFolderPath(const char* relative, char (&out)[MAX_PATH]);

// The choices for the log and for the crash dump.
extern DataFile LogFile;
extern DataFile DumpFile;

// Writes where the log went.
void LogDataFolder();
