// Times each SIMD math replacement against the game's scalar routine (the
// stand-in's, placed at the game's address) on the same inputs, and prints
// nanoseconds per call and the speed-up (game time / replacement time).
//
// Two measures per product: independent calls over many records, and a
// chain in which each result is the next call's operand, as when the game
// composes transforms down a scene graph; the chain also pays for reading
// back a result just written.

#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "simd/cpu_features.h"
#include "simd/math_kernels.h"
#include "simd/math_replacements.h"
#include "standin/game_math.h"

namespace {

constexpr int kRecords = 512;
constexpr int kRounds = 400;
constexpr int kRepeats = 7;

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Best of several runs of `body`, which makes `calls` calls.
template <typename Body>
double NanosecondsPerCall(long calls, Body body) {
  double best = 1e30;
  for (int repeat = 0; repeat < kRepeats; ++repeat) {
    LARGE_INTEGER start, stop;
    QueryPerformanceCounter(&start);
    body();
    QueryPerformanceCounter(&stop);
    best = std::fmin(best, Seconds(start, stop) * 1e9 / static_cast<double>(calls));
  }
  return best;
}

std::mt19937 engine(12345);

float Uniform(float low, float high) { return std::uniform_real_distribution<float>(low, high)(engine); }

// A rotation about a random axis, as a game transform's rotation.
void Rotation(float* r) {
  float axis[3] = {Uniform(-1, 1), Uniform(-1, 1), Uniform(-1, 1)};
  const float length = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]) + 1e-6f;
  for (float& v : axis) v /= length;
  const float angle = Uniform(-3.14159f, 3.14159f), c = std::cos(angle), s = std::sin(angle), t = 1 - c;
  const float x = axis[0], y = axis[1], z = axis[2];
  const float m[9] = {t * x * x + c,     t * x * y - s * z, t * x * z + s * y,
                      t * x * y + s * z, t * y * y + c,     t * y * z - s * x,
                      t * x * z - s * y, t * y * z + s * x, t * z * z + c};
  std::memcpy(r, m, sizeof m);
}

void Transform(float* t) {
  Rotation(t);
  for (size_t i = 0; i < 3; ++i) t[kTransformTranslation + i] = Uniform(-1000, 1000);
  // Unit scale keeps a long chain of products finite and normal.
  t[kTransformScale] = 1;
}

struct Row {
  const char* name;
  const void* function;
};

void PrintRow(const char* name, double ns, double gameNs) {
  std::printf("  %-24s %8.2f ns %8.2fx\n", name, ns, gameNs / ns);
}

template <size_t Floats, typename Fill>
void BenchProduct(const char* title, const Row (&rows)[3], Fill fill) {
  std::vector<float> a(kRecords * Floats), b(kRecords * Floats), result(kRecords * Floats);
  for (int i = 0; i < kRecords; ++i) {
    fill(&a[i * Floats]);
    fill(&b[i * Floats]);
  }
  std::vector<float> check(kRecords * Floats);
  double independentGame = 0, chainGame = 0;
  std::printf("%s\n", title);
  for (const Row& row : rows) {
    const auto f = reinterpret_cast<MatrixMultiplyFunction>(row.function);
    const double independent = NanosecondsPerCall(static_cast<long>(kRounds) * kRecords, [&] {
      for (int round = 0; round < kRounds; ++round)
        for (int i = 0; i < kRecords; ++i) f(&a[i * Floats], &result[i * Floats], &b[i * Floats]);
    });
    float chained[Floats];
    std::memcpy(chained, a.data(), sizeof chained);
    const double chain = NanosecondsPerCall(static_cast<long>(kRounds) * kRecords, [&] {
      for (int round = 0; round < kRounds; ++round)
        for (int i = 0; i < kRecords; ++i) f(&b[i * Floats], chained, chained);
    });
    if (row.function == rows[0].function) {
      independentGame = independent;
      chainGame = chain;
      check = result;
    } else if (std::memcmp(check.data(), result.data(), check.size() * sizeof(float)) != 0) {
      std::printf("  %s: results differ from the game's\n", row.name);
    }
    std::printf("  %-24s independent %7.2f ns (%5.2fx)   chained %7.2f ns (%5.2fx)\n", row.name, independent,
                independentGame / independent, chain, chainGame / chain);
  }
}

void BenchBox(const Row (&rows)[3]) {
  std::vector<float> boxes(kRecords * kBoxFloats), planes(kRecords * kPlanesFloats);
  for (int i = 0; i < kRecords; ++i) {
    float* box = &boxes[i * kBoxFloats];
    for (size_t k = 0; k < 3; ++k) {
      box[kBoxCentre + k] = Uniform(-100, 100);
      box[kBoxExtent + k] = Uniform(0, 10);
    }
    float* p = &planes[i * kPlanesFloats];
    for (size_t plane = 0; plane < kPlaneCount; ++plane) {
      float* n = p + 4 * plane;
      for (size_t k = 0; k < 3; ++k) n[k] = Uniform(-1, 1);
      // Most planes pass, so that most calls examine all six, as for boxes
      // inside the view frustum.
      const float s = (n[0] * box[4] + n[1] * box[5] + n[2] * box[6]) -
                      (std::fabs(n[0]) * box[8] + std::fabs(n[1]) * box[9] + std::fabs(n[2]) * box[10]);
      n[3] = s + (engine() % 16 == 0 ? 1.0f : -1.0f);
    }
    const uint32_t mask = 0x3f;
    std::memcpy(p + kPlanesMask, &mask, sizeof mask);
  }
  std::printf("box against planes\n");
  double gameNs = 0;
  int gameInside = 0;
  for (const Row& row : rows) {
    const auto f = reinterpret_cast<BoxPlanesTestFunction>(row.function);
    int inside = 0;
    const double ns = NanosecondsPerCall(static_cast<long>(kRounds) * kRecords, [&] {
      inside = 0;
      for (int round = 0; round < kRounds; ++round)
        for (int i = 0; i < kRecords; ++i) inside += f(&boxes[i * kBoxFloats], &planes[i * kPlanesFloats]);
    });
    if (row.function == rows[0].function) {
      gameNs = ns;
      gameInside = inside;
    } else if (inside != gameInside) {
      std::printf("  %s: results differ from the game's\n", row.name);
    }
    PrintRow(row.name, ns, gameNs);
  }
  std::printf("  (%d of %d boxes inside)\n", gameInside / kRounds, kRecords);
}

const void* Address(MatrixMultiplyFunction f) { return reinterpret_cast<const void*>(f); }
const void* Address(BoxPlanesTestFunction f) { return reinterpret_cast<const void*>(f); }
const void* Game(uint32_t address) { return reinterpret_cast<const void*>(static_cast<uintptr_t>(address)); }

}  // namespace

int main() {
  standin::PlaceGameMath();
  const uint32_t features = CpuFeatures.leaf1Ecx;
  std::printf("CPUID leaf 1 ECX 0x%08x: SSSE3 %s, SSE4.1 %s\n", features, features & kCpuSsse3 ? "yes" : "no",
              features & kCpuSse41 ? "yes" : "no");
  if ((features & (kCpuSsse3 | kCpuSse41)) != (kCpuSsse3 | kCpuSse41)) {
    std::printf("this benchmark needs SSSE3 and SSE4.1\n");
    return 1;
  }
  std::printf("%d records, %d rounds, best of %d; speed-up = game time / replacement time\n\n", kRecords,
              kRounds, kRepeats);

  const Row matrix[3] = {{"game (scalar)", Game(game::kMatrixMultiply)},
                         {"MatrixMultiplySsse3", Address(MatrixMultiplySsse3)},
                         {"MatrixMultiplySse2", Address(MatrixMultiplySse2)}};
  BenchProduct<kMatrixFloats>("matrix product", matrix, Rotation);

  const Row transform[3] = {{"game (scalar)", Game(game::kTransformMultiply)},
                            {"TransformMultiplySsse3", Address(TransformMultiplySsse3)},
                            {"TransformMultiplySse2", Address(TransformMultiplySse2)}};
  BenchProduct<kTransformFloats>("transform product", transform, Transform);

  const Row box[3] = {{"game (scalar)", Game(game::kBoxPlanesTest)},
                      {"BoxPlanesTestSse41", Address(BoxPlanesTestSse41)},
                      {"BoxPlanesTestSse3", Address(BoxPlanesTestSse3)}};
  BenchBox(box);
  return 0;
}
