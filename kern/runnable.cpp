// Thread identity records, their registry and thread-local slots, and the
// body every library thread runs.
#include "kern/runnable.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <vector>

#include <boost/thread/exceptions.hpp>

#include "kern/error_text.h"
#include "kern/exceptions.h"
#include "kern/logger.h"
#include "kern/pretty_print.h"
#include "kern/syncers.h"
#include "platform/win32.h"

namespace kern_n {

namespace {

// The two thread-local slots of the thread engine: the thread's runnable_t
// and its wrapper.
struct thread_engine_t {
  DWORD runnable_slot;
  DWORD wrapper_slot;
  thread_engine_t() : runnable_slot(TlsAlloc()), wrapper_slot(TlsAlloc()) {
    if (runnable_slot == TLS_OUT_OF_INDEXES || wrapper_slot == TLS_OUT_OF_INDEXES) {
      KERN_THROW(d_exception_t, "unable to initialize thread engine");
    }
  }
};

thread_engine_t& engine() {
  static thread_engine_t* instance = new thread_engine_t;  // lives as long as the process
  return *instance;
}

// Reserved at load, as the library's start-up does.
const bool engine_ready = (engine(), true);

struct registry_t {
  critical_section_t lock;
  std::vector<runnable_t*> list;
};

registry_t& registry() {
  static registry_t* instance = new registry_t;
  return *instance;
}

std::atomic<uint32_t> sequence_counter{0};

void log_registry_failure(const char* format, const std::string& name) {
  if (!log_enabled(lvl_error)) return;
  const std::string reason = describe_current_exception();
  const std::string text = string_format(format, name.c_str(), reason.c_str());
  pretty_print_exception(lvl_error, text.c_str(), nullptr, nullptr);
}

}  // namespace

std::string describe_current_exception() {
  try {
    throw;
  } catch (const SEH_exception_shell_t& e) {
    return e.what();
  } catch (const d_exception_t_shell_t& e) {
    return e.what();
  } catch (const std::bad_alloc&) {
    return "no enough memory";
  } catch (const std::exception& e) {
    return e.what();
  } catch (const boost::thread_interrupted&) {
    return "thread was interrupted";
  } catch (...) {
    return "general error";
  }
}

runnable_t::runnable_t() : sequence_id_(++sequence_counter) { register_in_list(); }

runnable_t::~runnable_t() { deregister_from_list(); }

void runnable_t::register_in_list() noexcept {
  try {
    registry_t& r = registry();
    critsect_locker_t guard(r.lock);
    auto it = std::find(r.list.begin(), r.list.end(), this);
    if (it != r.list.end()) r.list.erase(it);
    r.list.push_back(this);
  } catch (...) {
    log_registry_failure("%s: Adding self failed because of %s", name_);
  }
}

void runnable_t::deregister_from_list() noexcept {
  try {
    registry_t& r = registry();
    critsect_locker_t guard(r.lock);
    auto it = std::find(r.list.begin(), r.list.end(), this);
    if (it != r.list.end()) r.list.erase(it);
  } catch (...) {
    log_registry_failure("%s: Removing self failed because of %s", name_);
  }
}

size_t runnable_t::registered_count() {
  registry_t& r = registry();
  critsect_locker_t guard(r.lock);
  return r.list.size();
}

runnable_t* runnable_t::current() noexcept {
  return static_cast<runnable_t*>(TlsGetValue(engine().runnable_slot));
}

const char* runnable_t::current_name() noexcept {
  const runnable_t* self = current();
  return self == nullptr ? "noname" : self->name_.c_str();
}

void runnable_t::on_thread_start() {
  register_in_list();
  if (!TlsSetValue(engine().runnable_slot, this)) {
    const error_saver_t saved;
    KERN_THROW(d_exception_t, "unable to set thread slot because of %s", get_last_error(saved).c_str());
  }
  thread_id_ = GetCurrentThreadId();
  process_id_ = GetCurrentProcessId();
  if (display_id_ == -1 || display_id_ == 0) display_id_ = static_cast<int32_t>(thread_id_);
}

void runnable_t::cleanup_all() noexcept {
  try {
    TlsSetValue(engine().wrapper_slot, nullptr);
  } catch (...) {
  }
  try {
    TlsSetValue(engine().runnable_slot, nullptr);
  } catch (...) {
  }
}

runnable_t::wrap_helper_t::wrap_helper_t(runnable_t& owner) : owner_(owner) {
  owner_.on_thread_start();
  TlsSetValue(engine().wrapper_slot, this);
}

runnable_t::wrap_helper_t::~wrap_helper_t() {
  owner_.deregister_from_list();
  cleanup_all();
}

void run_thread_body(runnable_t& self, void (*body)(void*), void* context) noexcept {
  const unsigned long sequence = self.sequence_id();
  auto report = [sequence](const char* format) noexcept {
    try {
      if (!log_enabled(lvl_error)) return;
      const std::string reason = describe_current_exception();
      const std::string text = string_format(format, sequence, reason.c_str());
      pretty_print_exception(lvl_error, text.c_str(), nullptr, nullptr);
    } catch (...) {
    }
  };
  alignas(runnable_t::wrap_helper_t) unsigned char storage[sizeof(runnable_t::wrap_helper_t)];
  runnable_t::wrap_helper_t* wrapper = nullptr;
  try {
    wrapper = new (storage) runnable_t::wrap_helper_t(self);
  } catch (...) {
    report("Thread with sequence id %lu initialization has been aborted because of %s");
    return;
  }
  KLOG(lvl_debug3, "Thread with sequence id %lu started", sequence);
  try {
    body(context);
    KLOG(lvl_debug3, "Thread with sequence id %lu completed", sequence);
  } catch (...) {
    report("Thread with sequence id %lu execution has been aborted because of %s");
  }
  wrapper->~wrap_helper_t();
}

}  // namespace kern_n
