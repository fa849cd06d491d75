#pragma once

#include <cstdint>

// One iteration of a parallel loop: the loop's parameter record and the
// iteration index. Bodies must not throw.
using ParallelBody = void (*)(const void* record, uint32_t index) noexcept;

// Runs body(record, i) once for every i in [0, count), on the calling thread
// and on the process's helper threads (one per further processor), and
// returns only after every iteration has finished and no helper touches the
// loop any more. Helpers are started on demand; one that cannot be started
// leaves its share to the others and the caller. Several threads may run
// loops at once.
//
// A helper that has had nothing to do for kParallelHelperIdleMilliseconds
// ends itself. Each helper holds a reference on the module that contains
// this code and gives it back as it ends (FreeLibraryAndExitThread), so the
// module is never unloaded under a running helper: a FreeLibrary of it takes
// effect once its last helper has ended.
void ParallelFor(uint32_t count, ParallelBody body, const void* record);

// Threads that a loop uses at most, the caller included.
uint32_t ParallelThreadLimit();

// Helper threads running now.
uint32_t ParallelHelperCount();

constexpr uint32_t kParallelHelperIdleMilliseconds = 1000;
