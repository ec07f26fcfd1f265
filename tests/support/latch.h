// Test helper: a single-use count-down latch on a mutex and a condition
// variable. GCC 12's std::latch waits through the atomic-wait proxy on targets
// without a futex (mingw-w64), where a waiter can miss the last count_down.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace test_support {

class latch_t {
 public:
  explicit latch_t(std::ptrdiff_t count) : count_(count) {}
  latch_t(const latch_t&) = delete;
  latch_t& operator=(const latch_t&) = delete;

  void count_down() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (count_ > 0 && --count_ == 0) reached_.notify_all();
  }
  void wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    reached_.wait(lock, [&] { return count_ == 0; });
  }
  void arrive_and_wait() {
    count_down();
    wait();
  }

 private:
  std::mutex mutex_;
  std::condition_variable reached_;
  std::ptrdiff_t count_;
};

}  // namespace test_support
