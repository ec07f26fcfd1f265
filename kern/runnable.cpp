// Thread identity records, their registry and thread-local slots, and the
// body every library thread runs.
#include "kern/runnable.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>
#include <vector>

#include <boost/thread/exceptions.hpp>

#include "kern/error_text.h"
#include "kern/exceptions.h"
#include "kern/logger.h"
#include "kern/pretty_print.h"
#include "kern/syncers.h"
#include "kern/unload.h"
#include "platform/win32.h"

namespace kern_n {

namespace {

// The thread engine: the two thread-local slots (the thread's runnable_t and
// its wrapper) and the registry of live runnables. Reserved at load, given
// back at unload: a host that loads and unloads the module for ever must not
// run out of slots.
struct thread_engine_t {
  DWORD runnable_slot = TLS_OUT_OF_INDEXES;
  DWORD wrapper_slot = TLS_OUT_OF_INDEXES;
  critical_section_t lock;
  std::vector<runnable_t*> list;
  ~thread_engine_t() {
    if (wrapper_slot != TLS_OUT_OF_INDEXES) TlsFree(wrapper_slot);
    if (runnable_slot != TLS_OUT_OF_INDEXES) TlsFree(runnable_slot);
  }
};

// Null when the system had no slot to give (the module then refuses to load)
// and after release_at_unload.
thread_engine_t* make_engine() noexcept {
  try {
    std::unique_ptr<thread_engine_t> engine(new thread_engine_t);
    engine->runnable_slot = TlsAlloc();
    engine->wrapper_slot = TlsAlloc();
    if (engine->runnable_slot == TLS_OUT_OF_INDEXES || engine->wrapper_slot == TLS_OUT_OF_INDEXES) return nullptr;
    return engine.release();
  } catch (...) {
    return nullptr;
  }
}

bool engine_released = false;

thread_engine_t* engine() noexcept {
  static thread_engine_t* const instance = make_engine();
  return engine_released ? nullptr : instance;
}

// Reserved at load, as the library's start-up does.
const bool engine_reserved = engine() != nullptr;

// The engine, or the library's start-up failure.
thread_engine_t& usable_engine() {
  thread_engine_t* e = engine();
  if (e == nullptr) KERN_THROW(d_exception_t, "unable to initialize thread engine");
  return *e;
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
    thread_engine_t& r = usable_engine();
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
    thread_engine_t* e = engine();
    if (e == nullptr) return;  // never registered
    thread_engine_t& r = *e;
    critsect_locker_t guard(r.lock);
    auto it = std::find(r.list.begin(), r.list.end(), this);
    if (it != r.list.end()) r.list.erase(it);
  } catch (...) {
    log_registry_failure("%s: Removing self failed because of %s", name_);
  }
}

size_t runnable_t::registered_count() {
  thread_engine_t* e = engine();
  if (e == nullptr) return 0;
  thread_engine_t& r = *e;
  critsect_locker_t guard(r.lock);
  return r.list.size();
}

runnable_t* runnable_t::current() noexcept {
  const thread_engine_t* e = engine();
  return e == nullptr ? nullptr : static_cast<runnable_t*>(TlsGetValue(e->runnable_slot));
}

bool runnable_t::thread_engine_ready() noexcept { return engine() != nullptr; }

const char* runnable_t::current_name() noexcept {
  const runnable_t* self = current();
  return self == nullptr ? "noname" : self->name_.c_str();
}

void runnable_t::on_thread_start() {
  thread_engine_t& e = usable_engine();
  register_in_list();
  if (!TlsSetValue(e.runnable_slot, this)) {
    const error_saver_t saved;
    KERN_THROW(d_exception_t, "unable to set thread slot because of %s", get_last_error(saved).c_str());
  }
  thread_id_ = GetCurrentThreadId();
  process_id_ = GetCurrentProcessId();
  if (display_id_ == -1 || display_id_ == 0) display_id_ = static_cast<int32_t>(thread_id_);
}

void runnable_t::cleanup_all() noexcept {
  const thread_engine_t* e = engine();
  if (e == nullptr) return;
  TlsSetValue(e->wrapper_slot, nullptr);
  TlsSetValue(e->runnable_slot, nullptr);
}

runnable_t::wrap_helper_t::wrap_helper_t(runnable_t& owner) : owner_(owner) {
  owner_.on_thread_start();
  TlsSetValue(usable_engine().wrapper_slot, this);
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
    KLOG(lvl_debug3, "Thread with sequence id %lu started", sequence);
  } catch (...) {
    if (wrapper != nullptr) wrapper->~wrap_helper_t();
    report("Thread with sequence id %lu initialization has been aborted because of %s");
    return;
  }
  try {
    body(context);
    KLOG(lvl_debug3, "Thread with sequence id %lu completed", sequence);
  } catch (...) {
    report("Thread with sequence id %lu execution has been aborted because of %s");
  }
  wrapper->~wrap_helper_t();
}

namespace detail {

void release_thread_engine() noexcept {
  thread_engine_t* e = engine();
  engine_released = true;
  delete e;
}

}  // namespace detail

}  // namespace kern_n
