// quelbrand-ddscheck: tells texture authors whether Quelbrand's direct
// texture path takes their DDS files, and if not, why.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#endif

#include "ddscheck.h"
#include "quelbrand_build.h"
#include "quelbrand_version.h"

namespace {

constexpr char kUsage[] =
    "usage: quelbrand-ddscheck [options] FILE-OR-FOLDER...\n"
    "  Judges DDS files (folders: every .dds file below them) as Quelbrand's\n"
    "  direct texture path does: served (in which format, size and level count,\n"
    "  and the memory the texture takes) or left to D3DX, and why.\n"
    "  Textures packed in .bsa archives cannot be checked: unpack them first.\n"
    "  The device is taken to be a typical Direct3D 9 one (as Wine's): it makes\n"
    "  textures of the usual 8- to 128-bit formats and DXT1 to DXT5, DXT ones only\n"
    "  when level 0 is a multiple of 4 wide and high. It refuses 24-bit R8G8B8,\n"
    "  which Quelbrand therefore widens to A8R8G8B8, and A8R3G3B2, A4L4, CxV8U8,\n"
    "  UYVY, YUY2, RGBG and GRGB, which are left to D3DX.\n"
    "options:\n"
    "  --json            machine-readable output\n"
    "  --ex              judge the game's extended call (D3DXCreateTextureFromFileInMemoryEx)\n"
    "                    with the arguments below instead of the plain call\n"
    "  --pool N          0 default, 1 managed (the default), 2 system memory, 3 scratch\n"
    "  --usage N         usage flags (0 by default)\n"
    "  --width N, --height N, --levels N\n"
    "                    requested size and level count (default D3DX_DEFAULT, the file's;\n"
    "                    4294967294 is D3DX_DEFAULT_NONPOW2)\n"
    "  --format N        requested D3DFORMAT number (default 0: the file's)\n"
    "  --palette         the call passes a palette\n"
    "  --color-key N     the call's colour key (default 0: none)\n"
    "  --skip-levels N   the call's MipFilter skips N stored levels (D3DX_SKIP_DDS_MIP_LEVELS)\n"
    "  --help, --version\n"
    "exit status: 0 when every file could be read and every folder held .dds files,\n"
    "1 otherwise, 2 for bad arguments\n";

constexpr uint32_t kSkipShift = 26, kMostSkipped = 31;

bool ParseNumber(const char* text, uint32_t* value) {
  char* end = nullptr;
  const unsigned long long parsed = std::strtoull(text, &end, 0);
  if (end == text || *end != '\0' || parsed > 0xFFFFFFFFull || text[0] == '-') return false;
  *value = static_cast<uint32_t>(parsed);
  return true;
}

struct Options {
  bool json = false;
  bool help = false;
  bool version = false;
  uint32_t skipLevels = 0;
  DdsCall call;
  std::vector<std::string> paths;
};

// The options: a switch sets its flag, a numbered option reads the next
// argument into its field.
struct Option {
  const char* name;
  bool Options::*flag;
  bool DdsCall::*callFlag;
  uint32_t DdsCall::*number;
  uint32_t Options::*optionNumber = nullptr;
};
const Option kOptions[] = {
    {"--json", &Options::json, nullptr, nullptr},
    {"--help", &Options::help, nullptr, nullptr},
    {"--version", &Options::version, nullptr, nullptr},
    {"--ex", nullptr, &DdsCall::ex, nullptr},
    {"--palette", nullptr, &DdsCall::palette, nullptr},
    {"--pool", nullptr, nullptr, &DdsCall::pool},
    {"--usage", nullptr, nullptr, &DdsCall::usage},
    {"--width", nullptr, nullptr, &DdsCall::width},
    {"--height", nullptr, nullptr, &DdsCall::height},
    {"--levels", nullptr, nullptr, &DdsCall::mipLevels},
    {"--format", nullptr, nullptr, &DdsCall::format},
    {"--color-key", nullptr, nullptr, &DdsCall::colorKey},
    {"--skip-levels", nullptr, nullptr, nullptr, &Options::skipLevels},
};

const Option* FindOption(const char* arg) {
  for (const Option& option : kOptions) {
    if (std::strcmp(arg, option.name) == 0) return &option;
  }
  return nullptr;
}

bool ParseArguments(const std::vector<std::string>& args, Options* options) {
  const size_t argc = args.size();
  for (size_t i = 1; i < argc; ++i) {
    const char* arg = args[i].c_str();
    const Option* option = FindOption(arg);
    if (option != nullptr && (option->number != nullptr || option->optionNumber != nullptr)) {
      uint32_t* field =
          option->number != nullptr ? &(options->call.*option->number) : &(options->*option->optionNumber);
      if (++i >= argc || !ParseNumber(args[i].c_str(), field)) {
        std::fprintf(stderr, "quelbrand-ddscheck: %s needs a number\n", arg);
        return false;
      }
    } else if (option != nullptr && option->flag != nullptr) {
      options->*option->flag = true;
    } else if (option != nullptr) {
      options->call.*option->callFlag = true;
    } else if (std::strcmp(arg, "--") == 0) {
      for (++i; i < argc; ++i) options->paths.push_back(args[i]);
    } else if (arg[0] == '-' && arg[1] != '\0') {
      std::fprintf(stderr, "quelbrand-ddscheck: unknown option %s\n", arg);
      return false;
    } else {
      options->paths.push_back(arg);
    }
  }
  if (options->skipLevels > kMostSkipped) {
    std::fprintf(stderr, "quelbrand-ddscheck: --skip-levels takes 0 to %u\n", kMostSkipped);
    return false;
  }
  if (options->skipLevels != 0) options->call.mipFilter = options->skipLevels << kSkipShift;
  return !options->paths.empty() || options->help || options->version;
}

// The arguments in UTF-8. Windows passes them to main in the ANSI code page,
// which cannot hold every name, so they are read as wide characters there.
std::vector<std::string> Arguments(int argc, char** argv) {
#ifdef _WIN32
  (void)argc, (void)argv;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 0; wide != nullptr && i < count; ++i)
    args.push_back(std::filesystem::path(wide[i]).u8string());
  LocalFree(wide);
  return args;
#else
  return std::vector<std::string>(argv, argv + argc);
#endif
}

int Check(const Options& options) {
  std::vector<std::string> emptyFolders;
  const std::vector<FileVerdict> listed = ListFiles(options.paths, &emptyFolders);
  CheckSummary summary;
  if (options.json) std::printf("{\n  \"files\": [");
  bool first = true;
  for (FileVerdict file : listed) {
    if (file.error.empty()) file = CheckFile(std::filesystem::u8path(file.path), options.call);
    summary.Add(file);
    if (options.json) {
      WriteJsonFile(stdout, file, first);
    } else {
      WriteTextLine(stdout, file);
    }
    first = false;
  }
  if (options.json) {
    WriteJsonSummary(stdout, summary);
  } else {
    WriteTextSummary(stdout, summary);
  }
  for (const std::string& folder : emptyFolders) {
    std::fprintf(stderr,
                 "quelbrand-ddscheck: no .dds files in %s (textures packed in .bsa archives cannot be "
                 "checked: unpack them first)\n",
                 folder.c_str());
  }
  return summary.unreadable == 0 && emptyFolders.empty() ? 0 : 1;
}

}  // namespace

int Run(int argc, char** argv) {
  Options options;
  if (!ParseArguments(Arguments(argc, argv), &options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (options.version) {
    std::printf("quelbrand-ddscheck %s\n", QUELBRAND_VERSION_TEXT);
    return 0;
  }
  try {
    return Check(options);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "quelbrand-ddscheck: %s\n", error.what());
    return 1;
  }
}

int main(int argc, char** argv) {
#ifdef _WIN32
  // Names are printed in UTF-8; the console's own code page is put back.
  const UINT consoleCodePage = GetConsoleOutputCP();
  if (consoleCodePage != 0) SetConsoleOutputCP(CP_UTF8);
  const int status = Run(argc, argv);
  if (consoleCodePage != 0) SetConsoleOutputCP(consoleCodePage);
  return status;
#else
  return Run(argc, argv);
#endif
}
