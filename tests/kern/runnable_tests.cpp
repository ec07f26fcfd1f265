// Thread identity and the library thread body: sequence ids, the registry,
// the start/complete lines, and failures logged instead of thrown.
#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>

#include <boost/thread.hpp>

#include "capture_logger.h"
#include "kern/exceptions.h"
#include "kern/logger.h"
#include "kern/runnable.h"

namespace {

using test_support::capture_logger_t;

using helper_t = thr::proc::helper<std::function<void()>>;

std::string run_on_thread(helper_t& helper) {
  boost::thread t(std::ref(helper));
  t.join();
  return {};
}

TEST(runnable, consecutive_sequence_ids_and_registry) {
  const size_t before = kern_n::runnable_t::registered_count();
  {
    kern_n::runnable_t a;
    kern_n::runnable_t b;
    EXPECT_EQ(b.sequence_id(), a.sequence_id() + 1);
    EXPECT_EQ(a.name(), "noname");
    EXPECT_EQ(a.display_id(), -1);
    EXPECT_EQ(kern_n::runnable_t::registered_count(), before + 2);
  }
  EXPECT_EQ(kern_n::runnable_t::registered_count(), before);
}

TEST(runnable, thread_body_logs_start_and_completion) {
  capture_logger_t log;
  uint32_t seen_tid = 0;
  kern_n::runnable_t* seen_self = nullptr;
  helper_t helper([&] {
    seen_self = kern_n::runnable_t::current();
    seen_tid = GetCurrentThreadId();
  });
  const std::string seq = std::to_string(helper.sequence_id());
  run_on_thread(helper);
  EXPECT_EQ(seen_self, &helper);
  EXPECT_EQ(helper.thread_id(), seen_tid);
  EXPECT_EQ(helper.display_id(), static_cast<int32_t>(seen_tid));
  EXPECT_EQ(helper.process_id(), GetCurrentProcessId());
  EXPECT_EQ(log.messages(), (std::vector<std::string>{"Thread with sequence id " + seq + " started",
                                                      "Thread with sequence id " + seq + " completed"}));
  EXPECT_NE(log.lines().at(0).find(" db3 ["), std::string::npos);
  EXPECT_EQ(kern_n::runnable_t::current(), nullptr);  // not on this thread
}

// A logger that cannot make any line (no memory left for it).
class failing_logger_t : public capture_logger_t {
 public:
  void write(int, const char*, va_list) override { throw std::bad_alloc(); }
};

TEST(runnable, a_log_line_that_cannot_be_written_is_dropped_not_thrown) {
  failing_logger_t log;
  bool ran = false;
  helper_t helper([&] {
    ran = true;
    throw std::runtime_error("and the failure report cannot be written either");
  });
  run_on_thread(helper);  // the thread ends normally: no exception leaves its body
  EXPECT_TRUE(ran);
  KLOG(lvl_error, "nor here: %s", "dropped");
}

TEST(runnable, failures_are_logged_with_their_reason) {
  struct case_t {
    std::function<void()> body;
    std::string reason;
  };
  const case_t cases[] = {
      {[] { throw std::bad_alloc(); }, "no enough memory"},
      {[] { throw std::runtime_error("disk full"); }, "disk full"},
      {[] { KERN_THROW(api_exception, "call failed because of %s", "x"); }, "call failed because of x"},
      {[] { throw boost::thread_interrupted(); }, "thread was interrupted"},
      {[] { throw 42; }, "general error"},
  };
  for (const case_t& c : cases) {
    capture_logger_t log(lvl_error);
    helper_t helper(c.body);
    run_on_thread(helper);
    // pretty_print_exception splits the line at " because of ".
    std::string joined;
    for (const std::string& m : log.messages()) joined += m.substr(m.find_first_not_of(' '));
    EXPECT_EQ(joined, "Thread with sequence id " + std::to_string(helper.sequence_id()) +
                          " execution has been aborted because of " + c.reason);
    EXPECT_NE(log.lines().at(0).find(" ERR ["), std::string::npos);
  }
}

TEST(runnable, interruption_reaches_the_body) {
  capture_logger_t log(lvl_error);
  helper_t helper([] {
    for (;;) boost::this_thread::sleep_for(boost::chrono::milliseconds(5));
  });
  boost::thread t(std::ref(helper));
  t.interrupt();
  t.join();
  ASSERT_EQ(log.messages().size(), 2u);
  EXPECT_EQ(log.messages()[1], "  thread was interrupted");
}

}  // namespace
