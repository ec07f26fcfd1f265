// The pool's threads, the process-wide numbering of their names, and the
// stop / join / release order.
#include "net2/pool.h"

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/thread/exceptions.hpp>
#include <boost/thread/thread.hpp>

#include "kern/logger.h"
#include "kern/pretty_print.h"
#include "kern/runnable.h"
#include "kern/strings.h"
#include "kern/syncers.h"
#include "net2/socket_library.h"

namespace net2 {

namespace {

// Thread numbers per pool name; they persist while the module is loaded so
// that pools sharing a name never reuse a thread name. Only a pool's start
// reads them, and they go with the module's other static objects (a heap
// copy would be left behind by every unload).
struct name_registry_t {
  critical_section_t lock;
  std::map<std::string, uint32_t> counters;
};

name_registry_t& name_registry() {
  static name_registry_t instance;
  return instance;
}

}  // namespace

struct pool::impl {
  typedef thr::proc::helper<std::function<void()>> thread_body_t;

  impl(pool& owner_pool, const char* pool_name)
      : work(boost::asio::make_work_guard(service)), name(pool_name ? pool_name : ""),
        owner(owner_pool) {}

  void start_threads();
  void procedure(const std::string& thread_name);
  void stop();
  void join_all();

  detail::socket_library_t socket_library;  // first in, last out
  boost::asio::io_context service;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work;
  std::unique_ptr<boost::thread_group> threads = std::make_unique<boost::thread_group>();
  std::vector<std::unique_ptr<thread_body_t>> bodies;  // joined before they go
  std::atomic<uint64_t> jobs{0};
  std::string name;
  uint32_t thread_count = 0;
  std::string prefix;
  bool started = false;
  bool stopping = false;
  pool& owner;
};

void pool::impl::start_threads() {
  if (started) return;
  started = true;
  name_registry_t& registry = name_registry();
  critsect_locker_t guard(registry.lock);
  uint32_t& counter = registry.counters[name];
  for (uint32_t i = 0; i < thread_count; ++i) {
    ++counter;
    std::string thread_name = prefix;
    thread_name += ':';
    kern_n::append_decimal(thread_name, counter);
    auto body = std::make_unique<thread_body_t>(
        std::function<void()>([this, thread_name] { procedure(thread_name); }));
    body->set_name(thread_name);
    bodies.push_back(std::move(body));
    threads->create_thread(std::ref(*bodies.back()));
  }
}

void pool::impl::procedure(const std::string& thread_name) {
  owner.thread_setup();
  for (;;) {
    try {
      // One handler at a time, so that the count stays exact when one throws.
      // Once stopped, no further handler starts: Windows' completion port
      // would still hand out the handlers queued ahead of its wake-up.
      while (!service.stopped() && service.run_one() != 0) jobs.fetch_add(1, std::memory_order_relaxed);
      return;
    } catch (const boost::thread_interrupted&) {
      KLOG(lvl_debug3, "[%s] Thread '%s' was interrupted", name.c_str(), thread_name.c_str());
      return;
    } catch (...) {
      jobs.fetch_add(1, std::memory_order_relaxed);
      if (kern_n::log_enabled(lvl_error)) {
        const std::string text = "[" + name + "] Unable to execute job because of " +
                                 kern_n::describe_current_exception();
        pretty_print_exception(lvl_error, text.c_str(), nullptr, nullptr);
      }
    }
  }
}

void pool::impl::stop() {
  if (!stopping) {
    stopping = true;
    service.stop();
  }
  join_all();
}

void pool::impl::join_all() {
  if (!threads) return;
  threads->join_all();
  threads.reset();
  bodies.clear();
}

pool::pool(uint32_t thread_count, const char* thread_prefix, const char* pool_name)
    : pool(deferred_start_t{}, thread_count, thread_prefix, pool_name) {
  start();
}

pool::pool(deferred_start_t, uint32_t thread_count, const char* thread_prefix, const char* pool_name)
    : impl_(std::make_unique<impl>(*this, pool_name)) {
  impl_->thread_count = thread_count;
  impl_->prefix = thread_prefix ? thread_prefix : "";
}

void pool::start() {
  try {
    impl_->start_threads();
  } catch (...) {
    // Threads already started must not outlive the service they serve.
    impl_->stop();
    throw;
  }
}

pool::~pool() {
  try {
    impl_->stop();
  } catch (...) {
    if (kern_n::log_enabled(lvl_error)) {
      const std::string text = "[" + impl_->name + "] Unable to stop pool because of " +
                               kern_n::describe_current_exception();
      pretty_print_exception(lvl_error, text.c_str(), nullptr, nullptr);
    }
  }
  if (kern_n::log_enabled(lvl_trace0)) {
    const uint64_t jobs = impl_->jobs.load();
    std::string count;
    kern_n::append_decimal(count, jobs);
    kern_n::log_at(lvl_trace0, "[%s] Total %s job%s processed", impl_->name.c_str(), count.c_str(),
                   jobs == 1 ? "" : "s");
  }
  impl_->work.reset();
  // The implementation goes now: the service (pending handlers are destroyed
  // unrun), then the socket library's start-up.
}

boost::asio::io_context& pool::service() { return impl_->service; }

void pool::join_all() { impl_->join_all(); }

void pool::stop() { impl_->stop(); }

uint64_t pool::jobs() const { return impl_->jobs.load(); }

}  // namespace net2
