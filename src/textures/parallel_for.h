#pragma once

#include <cstdint>

// One iteration of a parallel loop: the loop's parameter record and the
// iteration index. Bodies must not throw.
using ParallelBody = void (*)(const void* record, uint32_t index) noexcept;

// Runs body(record, i) once for every i in [0, count), on the calling thread
// and on up to one helper thread per further processor, started for this
// loop; returns only after every iteration has finished and every helper
// has been joined. If a helper cannot be started the calling thread does its
// share; nothing is thrown.
void ParallelFor(uint32_t count, ParallelBody body, const void* record);

// Threads that ParallelFor uses at most, the caller included.
uint32_t ParallelThreadLimit();
