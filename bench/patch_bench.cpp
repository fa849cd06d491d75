// Times the patching engine: attaching and committing 100 redirections, and
// detaching them again, in one transaction and in one transaction each.

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "patching/patching.h"

namespace {

constexpr int kTargets = 100;
constexpr int kRounds = 50;
constexpr size_t kStride = 16;

int __cdecl Replacement(int a, int b) { return a * b; }

// push ebp; mov ebp,esp; mov eax,[ebp+8]; add eax,[ebp+12]; pop ebp; ret
const uint8_t kAdd[] = {0x55, 0x8B, 0xEC, 0x8B, 0x45, 0x08, 0x03, 0x45, 0x0C, 0x5D, 0xC3};

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to, const LARGE_INTEGER& frequency) {
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

struct Timing {
  std::vector<double> attach;
  std::vector<double> detach;
};

// One round: attach every site, then detach every site, either in one
// transaction per direction or in one transaction per site.
bool Round(std::vector<PatchSite>& sites, bool batched, const LARGE_INTEGER& frequency, Timing* timing) {
  void* replacement = reinterpret_cast<void*>(Replacement);
  LARGE_INTEGER t0, t1, t2;
  QueryPerformanceCounter(&t0);
  bool ok = true;
  for (int i = 0; i < kTargets; ++i) {
    if (!batched || i == 0) ok &= PatchBegin() == NO_ERROR;
    ok &= PatchAttach(&sites[i], replacement) == NO_ERROR;
    if (!batched || i == kTargets - 1) ok &= PatchCommit() == NO_ERROR;
  }
  QueryPerformanceCounter(&t1);
  for (int i = 0; i < kTargets; ++i) {
    if (!batched || i == 0) ok &= PatchBegin() == NO_ERROR;
    ok &= PatchDetach(&sites[i], replacement) == NO_ERROR;
    if (!batched || i == kTargets - 1) ok &= PatchCommit() == NO_ERROR;
  }
  QueryPerformanceCounter(&t2);
  timing->attach.push_back(Seconds(t0, t1, frequency));
  timing->detach.push_back(Seconds(t1, t2, frequency));
  return ok;
}

}  // namespace

int main() {
  auto* code = static_cast<uint8_t*>(
      VirtualAlloc(nullptr, kTargets * kStride, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
  std::memset(code, 0xCC, kTargets * kStride);
  std::vector<PatchSite> sites(kTargets);
  for (int i = 0; i < kTargets; ++i) {
    std::memcpy(code + i * kStride, kAdd, sizeof kAdd);
    sites[i] = code + i * kStride;
  }
  DWORD old;
  VirtualProtect(code, kTargets * kStride, PAGE_EXECUTE_READ, &old);

  // The redirection works before it is timed.
  PatchBegin();
  PatchAttach(&sites[0], reinterpret_cast<void*>(Replacement));
  PatchCommit();
  int redirected = reinterpret_cast<int(__cdecl*)(int, int)>(code)(6, 7);
  int original = reinterpret_cast<int(__cdecl*)(int, int)>(sites[0])(6, 7);
  PatchBegin();
  PatchDetach(&sites[0], reinterpret_cast<void*>(Replacement));
  PatchCommit();
  if (redirected != 42 || original != 13) {
    std::printf("redirection check failed: %d %d\n", redirected, original);
    return 1;
  }

  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  std::printf("%d redirections, %d rounds, median per redirection:\n", kTargets, kRounds);
  for (bool batched : {true, false}) {
    Timing timing;
    for (int round = 0; round < kRounds; ++round) {
      if (!Round(sites, batched, frequency, &timing)) {
        std::printf("a patching call failed\n");
        return 1;
      }
    }
    std::printf("  %-28s attach+commit %7.2f us, detach+commit %7.2f us\n",
                batched ? "one transaction for all:" : "one transaction each:",
                Median(timing.attach) * 1e6 / kTargets, Median(timing.detach) * 1e6 / kTargets);
  }
  return 0;
}
