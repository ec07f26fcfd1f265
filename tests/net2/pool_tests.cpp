// net2::pool: thread naming across pools, failing handlers, stop/join order
// and destruction while serving.
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/post.hpp>
#include <boost/thread/exceptions.hpp>
#include <gtest/gtest.h>

#include "kern/runnable.h"
#include "platform/win32.h"
#include "net2/pool.h"
#include "net2/socket_library.h"
#include "tests/support/latch.h"
#include "tests/support/capture_logger.h"
#include "tests/support/eventually.h"

namespace {

using test_support::capture_logger_t;

// Runs one handler on each of the pool's two threads at the same time and
// returns the names they saw.
std::set<std::string> names_of_two_threads(net2::pool& p) {
  test_support::latch_t both(2);
  std::mutex mutex;
  std::set<std::string> names;
  test_support::latch_t done(2);
  for (int i = 0; i < 2; ++i) {
    boost::asio::post(p.service(), [&] {
      {
        std::lock_guard<std::mutex> guard(mutex);
        names.insert(kern_n::runnable_t::current_name());
      }
      both.arrive_and_wait();  // the other handler must be on the other thread
      done.count_down();
    });
  }
  done.wait();
  return names;
}

TEST(pool, names_threads_per_pool_name_across_pool_lifetimes) {
  {
    net2::pool first(2, "nap", "NamingPool");
    EXPECT_EQ(names_of_two_threads(first), (std::set<std::string>{"nap:1", "nap:2"}));
  }
  {
    net2::pool second(2, "nap", "NamingPool");
    EXPECT_EQ(names_of_two_threads(second), (std::set<std::string>{"nap:3", "nap:4"}));
  }
  // Another pool name has its own count; a null prefix counts as empty.
  net2::pool other(2, nullptr, "OtherNamingPool");
  EXPECT_EQ(names_of_two_threads(other), (std::set<std::string>{":1", ":2"}));
}

TEST(pool, throwing_handler_is_reported_and_the_pool_serves_on) {
  capture_logger_t log;
  std::atomic<bool> later_ran{false};
  {
    net2::pool p(1, "thr", "ThrowPool");
    boost::asio::post(p.service(), [] { throw std::runtime_error("X"); });
    boost::asio::post(p.service(), [] { throw 42; });
    test_support::latch_t ran(1);
    boost::asio::post(p.service(), [&] {
      later_ran = true;
      ran.count_down();
    });
    ran.wait();
    p.stop();  // the count of the last handler follows its return
    EXPECT_EQ(p.jobs(), 3u);
  }
  EXPECT_TRUE(later_ran);
  // pretty_print_exception puts each "because of" clause on its own line.
  EXPECT_EQ(log.count("[ThrowPool] Unable to execute job because of ", lvl_error), 2u) << log.dump();
  EXPECT_TRUE(log.has("  X", lvl_error)) << log.dump();
  EXPECT_TRUE(log.has("  general error", lvl_error)) << log.dump();
  EXPECT_TRUE(log.has("[ThrowPool] Total 3 jobs processed", lvl_trace0)) << log.dump();
}

TEST(pool, stop_and_join_twice_do_nothing_more) {
  capture_logger_t log;
  {
    net2::pool p(2, "stp", "StopPool");
    test_support::latch_t ran(1);
    boost::asio::post(p.service(), [&] { ran.count_down(); });
    ran.wait();
    p.stop();
    p.stop();
    p.join_all();
    // The service stays stopped: nothing posted now runs.
    bool late = false;
    boost::asio::post(p.service(), [&] { late = true; });
    p.join_all();
    EXPECT_FALSE(late);
  }
  EXPECT_TRUE(log.has("[StopPool] Total 1 job processed", lvl_trace0)) << log.dump();
}

TEST(pool, destruction_while_serving_finishes_the_running_handler_only) {
  std::atomic<bool> started{false};
  std::atomic<bool> finished{false};
  std::atomic<bool> stopped_while_running{false};
  std::atomic<bool> queued_ran{false};
  auto queued_token = std::make_shared<int>(0);
  std::weak_ptr<int> queued_alive = queued_token;
  {
    net2::pool p(1, "dst", "DestroyPool");
    boost::asio::io_context& service = p.service();
    boost::asio::post(service, [&] {
      started = true;
      // Runs on until the pool's destruction has stopped the service.
      stopped_while_running = test_support::eventually([&] { return service.stopped(); }, test_support::poll_t::yield);
      finished = true;
    });
    boost::asio::post(service, [&, token = std::move(queued_token)] { queued_ran = true; });
    ASSERT_TRUE(test_support::eventually([&] { return started.load(); }));
  }
  EXPECT_TRUE(stopped_while_running);
  EXPECT_TRUE(finished);
  EXPECT_FALSE(queued_ran);
  // The handler that never ran has been destroyed with the service.
  EXPECT_TRUE(queued_alive.expired());
}

TEST(pool, interrupted_thread_ends_and_is_logged) {
  capture_logger_t log;
  net2::pool p(1, "int", "InterruptPool");
  boost::asio::post(p.service(), [] { throw boost::thread_interrupted(); });
  p.join_all();  // returns: the only thread has ended on its own
  EXPECT_TRUE(log.has("[InterruptPool] Thread 'int:1' was interrupted", lvl_debug3)) << log.dump();
}

// How many socket library start-ups the process holds (on Windows Asio keeps
// one of its own): all are dropped, counted, and taken again.
int socket_library_startups() {
  int held = 0;
  while (WSACleanup() == 0) ++held;
  for (int i = 0; i < held; ++i) {
    WSADATA data;
    EXPECT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  }
  return held;
}

TEST(pool, holds_one_socket_library_start_up_for_its_life) {
  const int before = socket_library_startups();
  {
    net2::pool p(0, "wsa", "WinsockPool");
    EXPECT_EQ(socket_library_startups(), before + 1);
  }
  EXPECT_EQ(socket_library_startups(), before);  // the pool has released its own
}

// Requests start and end pools from many threads at once; the system's own
// count must come out where it was (a count that is not thread-safe loses
// updates, reaches zero early and closes every socket of the process).
TEST(pool, concurrent_owners_leave_the_start_up_count_as_it_was) {
  const int before = socket_library_startups();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 200000; ++i) net2::detail::socket_library_t held;
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(socket_library_startups(), before);
}

TEST(pool, without_threads_nothing_runs_and_join_returns) {
  net2::pool p(0, "none", "EmptyPool");
  bool ran = false;
  boost::asio::post(p.service(), [&] { ran = true; });
  p.join_all();
  p.stop();
  EXPECT_FALSE(ran);
}

TEST(pool, join_from_a_pool_thread_is_refused) {
  net2::pool p(1, "self", "SelfJoinPool");
  std::string error;
  test_support::latch_t done(1);
  boost::asio::post(p.service(), [&] {
    try {
      p.join_all();
    } catch (const std::exception& e) {
      error = e.what();
    }
    done.count_down();
  });
  done.wait();
  EXPECT_NE(error.find("trying joining itself"), std::string::npos) << error;
}

class setup_pool_t : public net2::pool {
 public:
  setup_pool_t() : net2::pool(deferred_start_t{}, 2, "hook", "HookPool") { start(); }
  ~setup_pool_t() override { stop(); }
  void thread_setup() override {
    std::lock_guard<std::mutex> guard(mutex);
    seen.insert(kern_n::runnable_t::current_name());
  }
  std::mutex mutex;
  std::set<std::string> seen;
};

TEST(pool, thread_setup_runs_once_on_every_thread_before_serving) {
  setup_pool_t p;
  test_support::latch_t ran(1);
  boost::asio::post(p.service(), [&] { ran.count_down(); });
  ran.wait();
  p.stop();
  EXPECT_EQ(p.seen, (std::set<std::string>{"hook:1", "hook:2"}));
}

}  // namespace
