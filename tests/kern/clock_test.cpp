// The library clock: 10-nanosecond ticks from 0001-01-01, and thread CPU time.
#include <gtest/gtest.h>

#include <ctime>

#include "kern/clock.h"

namespace {

TEST(clock_ticks, wall_clock_counts_from_year_one) {
  const timegap_t ticks = clock_ticks(kern_n::clock_wall);
  const int64_t unix_seconds = ticks / ticks_per_second - kern_n::unix_epoch_seconds;
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  EXPECT_LE(std::llabs(unix_seconds - now), 2);
  EXPECT_GE(clock_ticks(7), ticks);  // any kind other than 1 is the wall clock
}

TEST(clock_ticks, thread_cpu_time_grows_with_work) {
  const timegap_t before = clock_ticks(kern_n::clock_thread_cpu);
  volatile uint64_t sink = 0;
  while (clock_ticks(kern_n::clock_thread_cpu) - before < 2 * ticks_per_millisecond) {
    for (int i = 0; i < 100000; ++i) sink = sink + static_cast<uint64_t>(i);
  }
  const timegap_t after = clock_ticks(kern_n::clock_thread_cpu);
  EXPECT_GE(after - before, 2 * ticks_per_millisecond);
  // CPU time of this thread is far below the wall-clock value.
  EXPECT_LT(after, clock_ticks(kern_n::clock_wall) / 1000);
}

}  // namespace
