// Test helper: waits for observable state instead of sleeping for a fixed
// time. A loaded machine, the sanitizers or Wine may make a thread late,
// never ten seconds late.
#pragma once

#include <chrono>
#include <thread>

namespace test_support {

// Polls cond until it holds (true) or the limit passes (false), sleeping a
// millisecond between polls, or only yielding when the moment matters (a
// host that acts at the first chance).
enum class poll_t { sleep, yield };
template <class F>
bool eventually(F cond, std::chrono::milliseconds limit, poll_t poll = poll_t::sleep) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!cond()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    if (poll == poll_t::yield) {
      std::this_thread::yield();
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  return true;
}
// The same with ten seconds: a loaded machine, the sanitizers or Wine may
// make a thread late, never that late.
template <class F>
bool eventually(F cond, poll_t poll = poll_t::sleep) {
  return eventually(cond, std::chrono::seconds(10), poll);
}

}  // namespace test_support
