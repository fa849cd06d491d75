#include "textures/parallel_for.h"

#include <algorithm>
#include <atomic>
#include <thread>

namespace {

// The copies are memory-bound; more threads than this only add start-up cost.
constexpr uint32_t kMaxThreads = 16;
// Each thread takes about this many chunks, so a thread that starts late or
// runs slowly leaves the rest to the others.
constexpr uint32_t kChunksPerThread = 4;

struct Loop {
  std::atomic<uint32_t> next{0};
  uint32_t count;
  uint32_t chunk;
  ParallelBody body;
  const void* record;
};

// Takes chunks of indices until none are left. The counter never moves past
// `count`, so it cannot wrap however many threads ask.
void Drain(Loop& loop) noexcept {
  uint32_t begin = loop.next.load(std::memory_order_relaxed);
  for (;;) {
    if (begin >= loop.count) return;
    const uint32_t end = begin + std::min(loop.chunk, loop.count - begin);
    if (!loop.next.compare_exchange_weak(begin, end, std::memory_order_relaxed)) continue;
    for (uint32_t i = begin; i < end; ++i) loop.body(loop.record, i);
    begin = loop.next.load(std::memory_order_relaxed);
  }
}

}  // namespace

uint32_t ParallelThreadLimit() {
  const unsigned processors = std::thread::hardware_concurrency();
  return std::clamp<uint32_t>(processors, 1, kMaxThreads);
}

void ParallelFor(uint32_t count, ParallelBody body, const void* record) {
  if (count == 0) return;
  const uint32_t threads = std::min(ParallelThreadLimit(), count);
  Loop loop;
  loop.count = count;
  loop.chunk = std::max<uint32_t>(1, count / (threads * kChunksPerThread));
  loop.body = body;
  loop.record = record;

  std::thread helpers[kMaxThreads];
  for (uint32_t i = 0; i + 1 < threads; ++i) {
    try {
      helpers[i] = std::thread(Drain, std::ref(loop));
    } catch (...) {
      break;  // no more threads to be had: the ones running and this one finish the loop
    }
  }
  Drain(loop);
  for (std::thread& helper : helpers) {
    if (helper.joinable()) helper.join();
  }
}
