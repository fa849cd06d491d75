#pragma once

// The stand-in for the game process and for the script-extender host. A
// program linked with it covers the game's fixed addresses; it loads the real
// Quelbrand.dll and calls its exports the way the host does.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace standin {

constexpr uint32_t kGameAreaBegin = 0x401000;
constexpr uint32_t kGameAreaEnd = 0x1c00000;
constexpr uint32_t kRuntime1_9_32 = 0x09200000;
// The log's second line, without its time: the build that wrote the log.
extern const char kVersionLine[];

// The host's record, laid out as the host lays it out.
struct HostRecord {
  uint32_t skseVersion;
  uint32_t runtimeVersion;
  uint32_t editorVersion;
  uint32_t isEditor;
  uint32_t (*queryInterface)(uint32_t);
  uint32_t (*getPluginHandle)();
  uint32_t (*getReleaseIndex)();
};

struct Descriptor {
  uint32_t infoVersion;
  const char* name;
  uint32_t version;
};

// Folder of this program: the game folder the plug-in resolves its settings
// file against.
std::string GameFolder();
std::string SettingsFilePath();
// Writes the settings file (the text of a Quelbrand.ini).
void WriteSettings(const std::string& text);
// The log as the plug-in writes it, relative to the working folder.
std::string LogPath();
// The log's lines without the start-up summary (where the log went, the
// settings, the active fixes), which tests of their own check.
std::vector<std::string> ReadLogLines();
std::vector<std::string> ReadWholeLog(const std::string& path);
bool IsStartUpSummary(const std::string& line);
// A log line without its "[time]" prefix; lines without one stay as they are.
std::string WithoutTime(const std::string& line);

// Copies machine code or data into the game area at `address`.
void PlaceInGame(uint32_t address, const void* bytes, size_t size);
// Where the relative jump (E9 rel32) at `address` leads; whether there is
// such a jump and it leads into `plugin`'s image.
uintptr_t JumpTarget(uintptr_t address);
bool JumpsIntoPlugin(uintptr_t address, HMODULE plugin);
template <typename T>
T& GameGlobal(uint32_t address) {
  return *reinterpret_cast<T*>(static_cast<uintptr_t>(address));
}

class Host {
 public:
  Host();
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // LoadLibrary of Quelbrand.dll from the game folder; false on failure.
  bool LoadPlugin();
  bool Query(uint32_t runtimeVersion = kRuntime1_9_32, bool editor = false);
  bool Load();
  // FreeLibrary: the plug-in sees process detach.
  void Unload();

  HMODULE module() const { return module_; }
  const Descriptor& descriptor() const { return descriptor_; }
  int hostFunctionCalls() const;

 private:
  HMODULE module_ = nullptr;
  HostRecord record_ = {};
  Descriptor descriptor_ = {};
};

}  // namespace standin
