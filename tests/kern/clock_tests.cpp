// The library clock: 10-nanosecond ticks from 0001-01-01, and thread CPU time.
#include <gtest/gtest.h>

#include <ctime>
#include <thread>

#include "eventually.h"
#include "kern/clock.h"

namespace {

TEST(clock_ticks, wall_clock_counts_from_year_one) {
  const timegap_t ticks = clock_ticks(kern_n::clock_wall);
  const int64_t unix_seconds = ticks / ticks_per_second - kern_n::unix_epoch_seconds;
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  EXPECT_LE(std::llabs(unix_seconds - now), 2);
  EXPECT_GE(clock_ticks(7), ticks);  // any kind other than 1 is the wall clock
}

TEST(clock_ticks, thread_cpu_time_counts_this_threads_work_only) {
  // Spins until this thread has used 2 ms of CPU; a clock that stands still
  // fails at the bound instead of hanging.
  const timegap_t before = clock_ticks(kern_n::clock_thread_cpu);
  const timegap_t wall_before = clock_ticks(kern_n::clock_wall);
  volatile uint64_t sink = 0;
  ASSERT_TRUE(test_support::eventually(
      [&] {
        for (int i = 0; i < 100000; ++i) sink = sink + static_cast<uint64_t>(i);
        return clock_ticks(kern_n::clock_thread_cpu) - before >= 2 * ticks_per_millisecond;
      },
      test_support::poll_t::yield));
  const timegap_t used = clock_ticks(kern_n::clock_thread_cpu) - before;
  // One thread cannot use more CPU time than the wall time that passed, give
  // or take one tick of the CPU clock (Windows counts in ticks of 15.6 ms).
  EXPECT_LE(used, clock_ticks(kern_n::clock_wall) - wall_before + 16 * ticks_per_millisecond);
  // CPU time of this thread is far below the wall-clock value.
  EXPECT_LT(clock_ticks(kern_n::clock_thread_cpu), clock_ticks(kern_n::clock_wall) / 1000);
  // While this thread waits for another that works, its own CPU time hardly
  // grows: the clock is this thread's, not the process's or the wall's.
  const timegap_t waiting_from = clock_ticks(kern_n::clock_thread_cpu);
  std::thread worker([] {
    const timegap_t start = clock_ticks(kern_n::clock_thread_cpu);
    volatile uint64_t work = 0;
    while (clock_ticks(kern_n::clock_thread_cpu) - start < 50 * ticks_per_millisecond) {
      for (int i = 0; i < 100000; ++i) work = work + static_cast<uint64_t>(i);
    }
  });
  worker.join();
  EXPECT_LT(clock_ticks(kern_n::clock_thread_cpu) - waiting_from, 25 * ticks_per_millisecond);
}

}  // namespace
