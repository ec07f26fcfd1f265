// The library clock: signed 64-bit counts of 10-nanosecond ticks. Wall-clock
// values count from 0001-01-01 00:00:00 UTC.
#pragma once

#include <cstdint>

#include "kern/types.h"

namespace kern_n {
constexpr int clock_wall = 0;
constexpr int clock_thread_cpu = 1;
// Seconds from 0001-01-01 to 1970-01-01.
constexpr int64_t unix_epoch_seconds = 62135596800LL;
// File-time steps (100 ns) from 0001-01-01 to 1601-01-01.
constexpr int64_t filetime_offset = 504911232000000000LL;
}  // namespace kern_n

// Kind 1: the calling thread's CPU time (kernel plus user; 0 when unknown);
// any other kind: the wall-clock time.
timegap_t clock_ticks(int kind = kern_n::clock_wall);
