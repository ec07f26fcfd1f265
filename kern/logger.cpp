// The logger interface's shared behaviour, the process-wide logger pointer and
// its life cycle from static construction to static destruction.
#include "kern/logger.h"

#include <cstdio>
#include <new>

#include "kern/error_text.h"
#include "kern/fd_logger.h"
#include "kern/strings.h"
#include "kern/unload.h"

namespace {
const char* const tags[] = {"FTL", "ERR", "wrn", "ntc", "inf", "tr0", "tr1",
                            "tr2", "tr3", "db0", "db1", "db2", "db3"};
}  // namespace

const char* level_tag(int level) {
  if (level < 0 || level > lvl_debug3) return "unk";
  return tags[level];
}

namespace {
// Puts errno and the last error back however the line ends.
struct error_keeper_t {
  const error_saver_t saved;
  ~error_keeper_t() { saved.restore(); }
};
}  // namespace

void if_logger_t::write(int level, const char* format, va_list args) {
  if (level > threshold_.load(std::memory_order_relaxed)) return;
  const error_keeper_t keep;
  std::string line;
  format_line(level, line, format, args);
  output(line.c_str());
}

void if_logger_t::set_level(int level) { threshold_.store(level, std::memory_order_relaxed); }

int if_logger_t::get_level() { return threshold_.load(std::memory_order_relaxed); }

bool if_logger_t::is_enabled(int level) { return level <= threshold_.load(std::memory_order_relaxed); }

void if_logger_t::format_line(int level, std::string& out, const char* format, va_list args) {
  std::string message;
  string_vprintf(message, format, args);
  out = make_line_prefix(level);
  out += message;
}

void if_logger_t::add_listener(if_logger_listener_t* listener) {
  if (listener == nullptr) return;
  critsect_locker_t guard(listener_lock_);
  listeners_.insert(listener);
}

void if_logger_t::remove_listener(if_logger_listener_t* listener) {
  critsect_locker_t guard(listener_lock_);
  listeners_.erase(listener);
}

void if_logger_t::notify_listeners(int level, const char* text) {
  critsect_locker_t guard(listener_lock_);
  const int saved = threshold_.exchange(-1, std::memory_order_relaxed);
  for (if_logger_listener_t* listener : listeners_) {
    try {
      listener->on_log_error(this, level, text);
    } catch (...) {
    }
  }
  threshold_.store(saved, std::memory_order_relaxed);
}

int logger_init_t::simple::output(const char* text) {
  return std::fprintf(stderr, "%s\n", text);
}

namespace {

// Static storage that no destructor of the C++ runtime touches: at process
// exit the fallback must still work while (and after) the other static
// objects are torn down, on whatever thread still logs. Only an unload
// destroys it (its lock is the system's), as the last of the library.
alignas(logger_init_t::simple) unsigned char simple_storage[sizeof(logger_init_t::simple)];
logger_init_t::simple* simple_made = nullptr;
bool module_unloading = false;

struct fallback_lifetime_t {
  ~fallback_lifetime_t() {
    if (!module_unloading || simple_made == nullptr) return;
    global_logger = nullptr;  // nothing of the module logs any more
    simple_made->~simple();
    simple_made = nullptr;
  }
};

}  // namespace

logger_init_t::simple& logger_init_t::simple_instance() {
  static simple* const instance = simple_made = new (simple_storage) simple;
  return *instance;
}

namespace {

// The logger this library made itself; the only one it may delete. A logger
// somebody else installed (a module's sink) belongs to them.
if_logger_t* own_initial_logger = nullptr;

if_logger_t* make_initial_logger() {
  logger_init_t::simple_instance();
  try {
    own_initial_logger = new fd_logger_t(2);
    return own_initial_logger;
  } catch (...) {
    return &logger_init_t::simple_instance();
  }
}

// Installs the first logger before the module's other static objects are
// built (a module's entry point may run and install its own sink before
// them: that one is kept), and replaces it with the fallback when they are
// destroyed.
struct logger_lifetime_t {
  logger_lifetime_t() {
    if (global_logger == nullptr) global_logger = make_initial_logger();
  }
  ~logger_lifetime_t() {
    if_logger_t* logger = global_logger;
    global_logger = &logger_init_t::simple_instance();
    if (logger != nullptr && logger == own_initial_logger) {
      own_initial_logger = nullptr;
      try {
        delete logger;
      } catch (...) {
      }
    }
  }
};

}  // namespace

// Constant-initialised: null until the object below (or an entry point) sets it.
if_logger_t* global_logger = nullptr;
// Built in this order, destroyed in the opposite one: the fallback outlives
// the logger that hands over to it.
__attribute__((init_priority(102))) static fallback_lifetime_t fallback_lifetime;
__attribute__((init_priority(102))) static logger_lifetime_t logger_lifetime;

void kern_n::log_at(int level, const char* format, ...) noexcept {
  if_logger_t* logger = global_logger;
  if (logger == nullptr) return;
  va_list args;
  va_start(args, format);
  try {
    logger->write(level, format, args);
  } catch (...) {
    // The line is lost; the caller goes on.
  }
  va_end(args);
}

void kern_n::detail::release_initial_logger() noexcept {
  module_unloading = true;  // the fallback goes last, with the static objects
  if_logger_t* own = own_initial_logger;
  own_initial_logger = nullptr;
  if (global_logger == own) global_logger = &logger_init_t::simple_instance();
  try {
    delete own;  // flushes its pending repeat line
  } catch (...) {
  }
}
