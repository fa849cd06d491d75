// Times SHA-256 over effect-sized messages through each block function:
// the plain loop the portable code used to be (the peer), the unrolled
// portable code and, where the processor has them, the SHA extensions; the
// checksum of cache entries; and, for scale, a plain read of the same bytes. Prints the median MB/s
// (wall-clock time of batches) and the median ratio to the peer.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "shadercache/entry_checksum.h"
#include "shadercache/sha256.h"
#include "shadercache/sha256_constants.h"
#include "simd/cpu_features.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

namespace {

constexpr int kBatches = 101;
constexpr double kBatchSeconds = 0.5e-3;

// Wall-clock time from the performance counter: thread processor time
// moves in steps of 10 ms or more on Windows and under Wine, about as long
// as a batch.
double Seconds() {
#ifdef _WIN32
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
#else
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
#endif
}

uint32_t RotateRight(uint32_t value, int count) { return (value >> count) | (value << (32 - count)); }

// The former portable block: the whole schedule first, then 64 rounds that
// move the eight working variables each time.
void LoopFormBlocks(uint32_t state[8], const unsigned char* blocks, size_t count) {
  for (; count != 0; --count, blocks += 64) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i) {
      const unsigned char* p = blocks + 4 * i;
      w[i] = static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
             static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]);
    }
    for (int i = 16; i < 64; ++i) {
      const uint32_t s0 = RotateRight(w[i - 15], 7) ^ RotateRight(w[i - 15], 18) ^ (w[i - 15] >> 3);
      const uint32_t s1 = RotateRight(w[i - 2], 17) ^ RotateRight(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < 64; ++i) {
      const uint32_t t1 = h + (RotateRight(e, 6) ^ RotateRight(e, 11) ^ RotateRight(e, 25)) +
                          ((e & f) ^ (~e & g)) + kSha256RoundConstants[i] + w[i];
      const uint32_t t2 =
          (RotateRight(a, 2) ^ RotateRight(a, 13) ^ RotateRight(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      h = g, g = f, f = e, e = d + t1, d = c, c = b, b = a, a = t1 + t2;
    }
    state[0] += a, state[1] += b, state[2] += c, state[3] += d;
    state[4] += e, state[5] += f, state[6] += g, state[7] += h;
  }
}

// Reads every word of the blocks once, as the digest must: what no hashing
// can beat.
void ReadBlocks(uint32_t state[8], const unsigned char* blocks, size_t count) {
  for (size_t i = 0; i < count * 16; ++i) {
    uint32_t word;
    std::memcpy(&word, blocks + 4 * i, sizeof word);
    state[i % 8] ^= word;
  }
}

void ChecksumBlocks(uint32_t state[8], const unsigned char* blocks, size_t count) {
  state[0] ^= static_cast<uint32_t>(EntryChecksum(blocks, count * 64));
}

struct Subject {
  const char* name;
  Sha256BlockFunction blocks;
};

// Seconds of `repeats` digests of `message`; `check` collects a digest byte
// so that no work is dropped.
double Time(Sha256BlockFunction blocks, const std::string& message, size_t repeats, unsigned& check) {
  const double start = Seconds();
  for (size_t i = 0; i < repeats; ++i)
    check += static_cast<unsigned char>(Sha256DigestWith(blocks, message)[i & 31]);
  return Seconds() - start;
}

// Digests per batch for this subject: batches last about kBatchSeconds
// whatever the subject's speed, so that each is as likely to be cut by
// another process, and few are.
size_t Repeats(Sha256BlockFunction blocks, const std::string& message, unsigned& check) {
  size_t repeats = 1;
  while (Time(blocks, message, repeats, check) < kBatchSeconds) repeats *= 2;
  return repeats;
}

double Median(std::vector<double> values) {
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

}  // namespace

int main() {
  std::vector<Subject> subjects = {{"loop form (peer)", LoopFormBlocks},
                                   {"portable", Sha256BlocksPortable},
                                   {"entry checksum", ChecksumBlocks},
                                   {"memory read", ReadBlocks}};
  const CpuFeatureRecord features = DetectCpuFeatures(ExecuteCpuid);
  if (Sha256ExtensionsUsable(features.leaf1Ecx, features.leaf7Ebx))
    subjects.insert(subjects.begin() + 2, {"SHA extensions", Sha256BlocksExtensions});
  else
    std::printf("No SHA extensions on this processor\n");

  // The subjects take turns batch by batch, so that a change in the load
  // of a shared machine falls on all of them; ratios are per batch.
  unsigned check = 0;
  for (size_t size : {size_t{1} << 10, size_t{16} << 10, size_t{64} << 10}) {
    std::string message(size, '\0');
    for (size_t i = 0; i < size; ++i) message[i] = static_cast<char>(i * 131 + (i >> 9));
    std::vector<size_t> repeats;
    for (const Subject& subject : subjects) repeats.push_back(Repeats(subject.blocks, message, check));
    std::vector<std::vector<double>> rates(subjects.size()), ratios(subjects.size());
    for (int batch = 0; batch < kBatches; ++batch) {
      for (size_t s = 0; s < subjects.size(); ++s) {
        const double seconds = Time(subjects[s].blocks, message, repeats[s], check);
        rates[s].push_back(static_cast<double>(repeats[s] * size) / 1e6 / seconds);
        ratios[s].push_back(rates[s].back() / rates[0].back());
      }
    }
    for (size_t s = 0; s < subjects.size(); ++s)
      std::printf("%7zu KB  %-17s %8.1f MB/s  x%.2f\n", size >> 10, subjects[s].name, Median(rates[s]),
                  Median(ratios[s]));
  }
  std::printf("(check %u)\n", check);
  return 0;
}
