// The process logger: levels and tags, the logger interface, the process-wide
// pointer, and KLOG, the one way the tree logs (level tested first, arguments
// formatted only when it is enabled).
#pragma once

#include <atomic>
#include <cstdarg>
#include <string>
#include <unordered_set>

#include "kern/syncers.h"
#include "kern/types.h"

enum log_level_t : int {
  lvl_fatal = 0,
  lvl_error = 1,
  lvl_warning = 2,
  lvl_notice = 3,
  lvl_info = 4,
  lvl_trace0 = 5,
  lvl_trace1 = 6,
  lvl_trace2 = 7,
  lvl_trace3 = 8,
  lvl_debug0 = 9,
  lvl_debug1 = 10,
  lvl_debug2 = 11,
  lvl_debug3 = 12,
};

// The three-character tag of a level; "unk" outside 0..12.
const char* level_tag(int level);

class if_logger_t;

// Told when the logger cannot write (level 0 and the error text).
class if_logger_listener_t {
 public:
  virtual void on_log_error(if_logger_t* logger, int level, const char* text) = 0;
  virtual ~if_logger_listener_t() = default;
};

class if_logger_t : public virtual if_root_t {
 public:
  if_logger_t() = default;

  // Slot order is part of the interface: write, set_level, get_level,
  // is_enabled, format_line, output, add_listener, remove_listener.
  // write leaves errno and the thread's last error as it found them, so that
  // code logging a failure can still read them afterwards.
  virtual void write(int level, const char* format, va_list args);
  virtual void set_level(int level);
  virtual int get_level();
  virtual bool is_enabled(int level);
  virtual void format_line(int level, std::string& out, const char* format, va_list args);
  virtual int output(const char* text) = 0;
  virtual void add_listener(if_logger_listener_t* listener);
  virtual void remove_listener(if_logger_listener_t* listener);

 protected:
  // Calls every listener with (this, level, text), the threshold lowered to -1
  // meanwhile so that a listener logging here cannot re-enter a failing output.
  void notify_listeners(int level, const char* text);

  // Read by every log call on every thread: relaxed, as cheap as a plain int.
  std::atomic<int> threshold_{lvl_info};
  std::unordered_set<if_logger_listener_t*> listeners_;
  critical_section_t listener_lock_;
};

// Writes to the C runtime's standard error stream; the fallback at shutdown.
struct logger_init_t {
  class simple : public if_logger_t {
   public:
    int output(const char* text) override;
  };
  // The process-wide instance; never destroyed at process exit, so late
  // messages still land. An unload destroys it after the library's other
  // static objects, and logs nothing from then on.
  static simple& simple_instance();
};

// The process logger; null means "log nothing".
extern if_logger_t* global_logger;

// The prefix of every line: local time, hundredths, level tag, process id,
// thread id, thread name.
std::string make_line_prefix(int level);
// The same prefix, then message and a line feed, into buffer (cut at its end,
// always terminated), without allocating: for a line written after a crash,
// when the heap may be broken. Returns the characters written.
size_t format_line_into(int level, const char* message, char* buffer, size_t size) noexcept;

namespace kern_n {
// Writes one message at level through global_logger. Callers go through KLOG.
// Never throws: a line that cannot be made or written is dropped, so that
// logging can never end a thread body or leave a COM method.
void log_at(int level, const char* format, ...) noexcept __attribute__((format(printf, 2, 3)));
inline bool log_enabled(int level) noexcept {
  if_logger_t* logger = global_logger;
  if (logger == nullptr) return false;
  try {
    return logger->is_enabled(level);
  } catch (...) {
    return false;
  }
}
}  // namespace kern_n

// KLOG(lvl_error, "[NAP] query failed because of %s", text);
#define KLOG(level, ...)                                                   \
  do {                                                                     \
    if (::kern_n::log_enabled(level)) ::kern_n::log_at(level, __VA_ARGS__); \
  } while (0)
