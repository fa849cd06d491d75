// quelbrand-ddscheck: tells texture authors whether Quelbrand's direct
// texture path takes their DDS files, and if not, why.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ddscheck.h"

namespace {

constexpr char kUsage[] =
    "usage: quelbrand-ddscheck [options] FILE-OR-FOLDER...\n"
    "  Judges DDS files (folders: every .dds file below them) as Quelbrand's\n"
    "  direct texture path does, and tells the memory each served texture takes.\n"
    "options:\n"
    "  --json            machine-readable output\n"
    "  --ex              judge the game's extended call (D3DXCreateTextureFromFileInMemoryEx)\n"
    "                    with the arguments below instead of the plain call\n"
    "  --pool N          0 default, 1 managed (the default), 2 system memory, 3 scratch\n"
    "  --usage N         usage flags (0 by default)\n"
    "  --width N, --height N, --levels N\n"
    "                    requested size and level count (default: the file's)\n"
    "  --format N        requested D3DFORMAT number (default 0: the file's)\n"
    "  --palette         the call passes a palette\n"
    "exit status: 0 when every file could be read, 1 otherwise, 2 for bad arguments\n";

bool ParseNumber(const char* text, uint32_t* value) {
  char* end = nullptr;
  const unsigned long long parsed = std::strtoull(text, &end, 0);
  if (end == text || *end != '\0' || parsed > 0xFFFFFFFFull || text[0] == '-') return false;
  *value = static_cast<uint32_t>(parsed);
  return true;
}

struct Options {
  bool json = false;
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
};
const Option kOptions[] = {
    {"--json", &Options::json, nullptr, nullptr},       {"--ex", nullptr, &DdsCall::ex, nullptr},
    {"--palette", nullptr, &DdsCall::palette, nullptr}, {"--pool", nullptr, nullptr, &DdsCall::pool},
    {"--usage", nullptr, nullptr, &DdsCall::usage},     {"--width", nullptr, nullptr, &DdsCall::width},
    {"--height", nullptr, nullptr, &DdsCall::height},   {"--levels", nullptr, nullptr, &DdsCall::mipLevels},
    {"--format", nullptr, nullptr, &DdsCall::format},
};

const Option* FindOption(const char* arg) {
  for (const Option& option : kOptions) {
    if (std::strcmp(arg, option.name) == 0) return &option;
  }
  return nullptr;
}

bool ParseArguments(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const Option* option = FindOption(arg);
    if (option != nullptr && option->number != nullptr) {
      if (++i >= argc || !ParseNumber(argv[i], &(options->call.*option->number))) {
        std::fprintf(stderr, "quelbrand-ddscheck: %s needs a number\n", arg);
        return false;
      }
    } else if (option != nullptr && option->flag != nullptr) {
      options->*option->flag = true;
    } else if (option != nullptr) {
      options->call.*option->callFlag = true;
    } else if (std::strcmp(arg, "--") == 0) {
      for (++i; i < argc; ++i) options->paths.push_back(argv[i]);
    } else if (arg[0] == '-' && arg[1] != '\0') {
      std::fprintf(stderr, "quelbrand-ddscheck: unknown option %s\n", arg);
      return false;
    } else {
      options->paths.push_back(arg);
    }
  }
  return !options->paths.empty();
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseArguments(argc, argv, &options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  CheckSummary summary;
  if (options.json) std::printf("{\n  \"files\": [");
  bool first = true;
  for (FileVerdict& file : ListFiles(options.paths)) {
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
  return summary.unreadable == 0 ? 0 : 1;
}
