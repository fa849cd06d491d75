#include "standin/standin.h"

#include <shlwapi.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "quelbrand_build.h"

namespace standin {

const char kVersionLine[] = "INFO: Quelbrand " QUELBRAND_VERSION_TEXT;

namespace {

int pluginHandleCalls;

uint32_t QueryInterface(uint32_t) { return 0; }
uint32_t GetPluginHandle() {
  ++pluginHandleCalls;
  return 1;
}
uint32_t GetReleaseIndex() { return 0; }

template <typename Function>
Function Export(HMODULE module, const char* name) {
  void* address = reinterpret_cast<void*>(GetProcAddress(module, name));
  if (address == nullptr) throw std::runtime_error(std::string(name) + " not exported");
  return reinterpret_cast<Function>(address);
}

}  // namespace

std::string GameFolder() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  PathRemoveFileSpecA(path);
  return path;
}

std::string SettingsFilePath() { return GameFolder() + "\\data\\skse\\plugins\\Quelbrand.ini"; }

void WriteSettings(const std::string& text) {
  CreateDirectoryA((GameFolder() + "\\data").c_str(), nullptr);
  CreateDirectoryA((GameFolder() + "\\data\\skse").c_str(), nullptr);
  CreateDirectoryA((GameFolder() + "\\data\\skse\\plugins").c_str(), nullptr);
  std::ofstream out(SettingsFilePath(), std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + SettingsFilePath());
}

std::string LogPath() { return "data/skse/plugins/Quelbrand.log"; }

std::vector<std::string> ReadWholeLog(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

bool IsStartUpSummary(const std::string& line) {
  const std::string text = WithoutTime(line);
  for (const char* prefix : {"INFO: Log file ", "INFO: Settings file ", "INFO: [", "INFO: Active fixes: "})
    if (text.rfind(prefix, 0) == 0) return true;
  return false;
}

std::vector<std::string> ReadLogLines() {
  std::vector<std::string> lines = ReadWholeLog(LogPath());
  lines.erase(std::remove_if(lines.begin(), lines.end(), IsStartUpSummary), lines.end());
  return lines;
}

std::string WithoutTime(const std::string& line) {
  if (line.empty() || line[0] != '[') return line;
  size_t close = line.find(']');
  return close == std::string::npos ? line : line.substr(close + 1);
}

void PlaceInGame(uint32_t address, const void* bytes, size_t size) {
  if (address < kGameAreaBegin || address + size > kGameAreaEnd)
    throw std::out_of_range("outside the stand-in game area");
  std::memcpy(reinterpret_cast<void*>(static_cast<uintptr_t>(address)), bytes, size);
  FlushInstructionCache(GetCurrentProcess(), reinterpret_cast<void*>(static_cast<uintptr_t>(address)), size);
}

uintptr_t JumpTarget(uintptr_t address) {
  int32_t displacement;
  std::memcpy(&displacement, reinterpret_cast<const void*>(address + 1), sizeof displacement);
  return address + 5 + static_cast<uintptr_t>(displacement);
}

bool JumpsIntoPlugin(uintptr_t address, HMODULE plugin) {
  const auto base = reinterpret_cast<uintptr_t>(plugin);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(
      base + static_cast<uintptr_t>(reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew));
  const uintptr_t to = JumpTarget(address);
  return *reinterpret_cast<const uint8_t*>(address) == 0xE9 && to >= base &&
         to < base + nt->OptionalHeader.SizeOfImage;
}

Host::Host() {
  record_.skseVersion = 0x01070300;
  record_.runtimeVersion = kRuntime1_9_32;
  record_.queryInterface = QueryInterface;
  record_.getPluginHandle = GetPluginHandle;
  record_.getReleaseIndex = GetReleaseIndex;
  pluginHandleCalls = 0;
}

Host::~Host() { Unload(); }

bool Host::LoadPlugin() {
  module_ = LoadLibraryA((GameFolder() + "\\Quelbrand.dll").c_str());
  return module_ != nullptr;
}

bool Host::Query(uint32_t runtimeVersion, bool editor) {
  using QueryFn = bool (*)(const HostRecord*, Descriptor*);
  auto query = Export<QueryFn>(module_, "SKSEPlugin_Query");
  record_.runtimeVersion = runtimeVersion;
  record_.isEditor = editor ? 1 : 0;
  return query(&record_, &descriptor_);
}

bool Host::Load() {
  using LoadFn = bool (*)(const HostRecord*);
  auto load = Export<LoadFn>(module_, "SKSEPlugin_Load");
  return load(&record_);
}

void Host::Unload() {
  if (module_ != nullptr) FreeLibrary(module_);
  module_ = nullptr;
}

int Host::hostFunctionCalls() const { return pluginHandleCalls; }

}  // namespace standin
