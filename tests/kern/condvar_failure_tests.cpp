// The condition variable when a system wait fails, with the waits of this
// program interposed at link time (--wrap): a waiter whose wait fails during
// a broadcast still lets the broadcaster go, and a relock that fails while
// that failure travels does not end the process.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "eventually.h"
#include "kern/exceptions.h"
#include "kern/syncers.h"

namespace {

// Armed per thread: the next fail_waits waits fail (after really waiting
// when wait_first is set, so that the failure comes exactly when the waiter
// is woken).
thread_local int fail_waits = 0;
thread_local bool wait_first = false;

}  // namespace

extern "C" DWORD __real__Z19WaitForSingleObjectPvj(HANDLE h, DWORD milliseconds);
extern "C" DWORD __wrap__Z19WaitForSingleObjectPvj(HANDLE h, DWORD milliseconds) {
  if (fail_waits == 0) return __real__Z19WaitForSingleObjectPvj(h, milliseconds);
  --fail_waits;
  if (wait_first) __real__Z19WaitForSingleObjectPvj(h, milliseconds);
  SetLastError(ERROR_INVALID_HANDLE);
  return WAIT_FAILED;
}

namespace {

using test_support::eventually;

bool is_wait_failure(const std::exception& e) {
  return std::string(e.what()).rfind("unable to wait condvar semaphore because of ", 0) == 0;
}

TEST(condvar_failure, a_waiter_whose_wait_fails_during_a_broadcast_still_releases_the_broadcaster) {
  // Left behind (threads detached) if the broadcaster never returns.
  auto* m = new mutex_t;
  auto* cv = new condvar_t;
  std::atomic<bool> failed_as_expected{false}, relocked{false}, broadcast_done{false};
  std::thread waiter([&] {
    mutex_locker_t guard(*m);
    fail_waits = 1;
    wait_first = true;
    try {
      cv->wait(*m);
    } catch (const condvar_exception_shell_t& e) {
      failed_as_expected = is_wait_failure(e);
    }
    relocked = true;  // the caller's mutex is held again: the guard unlocks it
  });
  ASSERT_TRUE(eventually([&] { return cv->waiting() == 1; }));
  std::thread broadcaster([&] {
    mutex_locker_t guard(*m);
    cv->broadcast();
    broadcast_done = true;
  });
  const bool returned = eventually([&] { return broadcast_done && relocked; });
  EXPECT_TRUE(returned) << "the broadcaster waits for a waiter that has gone";
  if (!returned) {
    waiter.detach();
    broadcaster.detach();
    return;
  }
  waiter.join();
  broadcaster.join();
  EXPECT_TRUE(failed_as_expected);
  EXPECT_EQ(cv->waiting(), 0);
  delete cv;
  delete m;
}

TEST(condvar_failure, a_failed_relock_leaves_the_waits_own_failure_to_travel) {
  mutex_t m;
  condvar_t cv;
  m.lock();
  fail_waits = 2;  // the wait, then taking the mutex again
  wait_first = false;
  bool failed_as_expected = false;
  try {
    cv.wait(m);
  } catch (const condvar_exception_shell_t& e) {
    failed_as_expected = is_wait_failure(e);
  }
  EXPECT_TRUE(failed_as_expected);
  EXPECT_EQ(fail_waits, 0);
  EXPECT_EQ(cv.waiting(), 0);
}

}  // namespace
