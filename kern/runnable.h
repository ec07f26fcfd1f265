// Thread identity: kern_n::runnable_t (sequence id, name, thread and process
// ids) kept in a process-wide registry and in a thread-local slot that the
// logger reads, the wrapper that sets it up on a new thread, and
// thr::proc::helper, the body of every library thread.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

#include "kern/seh_wrapper.h"
#include "kern/types.h"

namespace kern_n {

class runnable_t : public virtual if_root_t {
 public:
  runnable_t();
  ~runnable_t() override;
  runnable_t(const runnable_t&) = delete;
  runnable_t& operator=(const runnable_t&) = delete;

  uint32_t thread_id() const { return thread_id_; }
  int32_t display_id() const { return display_id_; }
  const std::string& name() const { return name_; }
  void set_name(const std::string& name) { name_ = name; }
  uint32_t process_id() const { return process_id_; }
  uint32_t sequence_id() const { return sequence_id_; }

  // Never throw: failures are logged at level 1.
  void register_in_list() noexcept;
  void deregister_from_list() noexcept;

  // The calling thread's record, or null (threads not started by a helper).
  static runnable_t* current() noexcept;
  // The name log lines show for the calling thread: "noname" without a record.
  static const char* current_name() noexcept;
  // Number of records in the registry (for tests and diagnostics).
  static size_t registered_count();
  // Whether the library's start-up got its thread-local slots; a module
  // whose library did not refuses to load.
  static bool thread_engine_ready() noexcept;
  // Per-thread clean-up at thread end; swallows every exception.
  static void cleanup_all() noexcept;

  // Constructed first thing on a new thread, destroyed last.
  class wrap_helper_t {
   public:
    explicit wrap_helper_t(runnable_t& owner);
    ~wrap_helper_t();
    wrap_helper_t(const wrap_helper_t&) = delete;
    wrap_helper_t& operator=(const wrap_helper_t&) = delete;

   private:
    seh_translator_t translator_;
    runnable_t& owner_;
  };

 private:
  void on_thread_start();

  uint32_t thread_id_ = 0;
  int32_t display_id_ = -1;
  std::string name_ = "noname";
  uint32_t process_id_ = 0;
  uint32_t sequence_id_;
};

// The reason text of a caught exception as the thread body and other top-level
// handlers log it: what() for the library's shells and standard exceptions,
// "no enough memory", "thread was interrupted", or "general error".
std::string describe_current_exception();

// Runs the body of a library thread for the runnable identified by its
// sequence id; logs start, completion and failures, never lets an exception out.
void run_thread_body(runnable_t& self, void (*body)(void*), void* context) noexcept;

}  // namespace kern_n

namespace thr::proc {

// A runnable_t that holds its thread's function; a thread is started (with
// Boost.Thread) on a reference to it, and operator() is the thread body.
template <class F>
class helper : public kern_n::runnable_t {
 public:
  explicit helper(F function) : function_(std::move(function)) {}
  void operator()() noexcept {
    kern_n::run_thread_body(*this, [](void* self) { static_cast<helper*>(self)->function_(); }, this);
  }

 private:
  F function_;
};

}  // namespace thr::proc
