// Files per second that quelbrand-ddscheck judges in a generated folder tree
// of DDS files (every kind of sample, 64 to a folder), against the same walk
// that only opens each file and reads its header (the peer: what any checker
// must at least do). Prints the medians of several runs and their ratio.
// Usage: ddscheck_bench [file count] (default 20000).

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "dds_samples.h"
#include "ddscheck.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRuns = 5;

template <typename Body>
double Seconds(Body body) {
  const auto start = std::chrono::steady_clock::now();
  body();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void MakeTree(const fs::path& root, int files) {
  const std::vector<DdsSample> samples = DdsSamples();
  for (int i = 0; i < files; ++i) {
    const DdsSample& sample = samples[static_cast<size_t>(i) % samples.size()];
    const fs::path folder = root / ("folder" + std::to_string(i / 64));
    fs::create_directories(folder);
    std::ofstream(folder / (std::to_string(i) + "-" + sample.name + ".dds"), std::ios::binary)
        .write(reinterpret_cast<const char*>(sample.bytes.data()),
               static_cast<std::streamsize>(sample.bytes.size()));
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int files = argc > 1 ? std::atoi(argv[1]) : 20000;
  const fs::path root = fs::temp_directory_path() / "quelbrand-ddscheck-bench";
  fs::remove_all(root);
  MakeTree(root, files);

  uint64_t served = 0, headerBytes = 0;
  std::vector<std::string> emptyFolders;
  const auto judge = [&] {
    CheckSummary summary;
    for (const FileVerdict& listed : ListFiles({root.u8string()}, &emptyFolders)) {
      summary.Add(CheckFile(fs::u8path(listed.path), DdsCall{}));
    }
    served = summary.served;
  };
  const auto readHeaders = [&] {
    for (const FileVerdict& listed : ListFiles({root.u8string()}, &emptyFolders)) {
      char header[148];
      std::ifstream in(fs::u8path(listed.path), std::ios::binary);
      in.read(header, sizeof header);
      headerBytes += static_cast<uint64_t>(in.gcount());
    }
  };
  // Alternating runs after one of each to warm the caches, so that both
  // see the same cache and machine load.
  judge();
  readHeaders();
  std::vector<double> judged, read;
  for (int run = 0; run < kRuns; ++run) {
    judged.push_back(Seconds(judge));
    read.push_back(Seconds(readHeaders));
  }
  const double checked = Median(judged), peer = Median(read);
  fs::remove_all(root);

  std::printf("ddscheck: %d files (%llu served), median of %d runs\n", files,
              static_cast<unsigned long long>(served), kRuns);
  std::printf("  judged:       %10.0f files/s\n", files / checked);
  std::printf("  headers read: %10.0f files/s (peer)\n", files / peer);
  std::printf("  ratio judged/peer time: %.2f\n", checked / peer);
  return headerBytes == 0 ? 1 : 0;
}
