// fd_logger_t: repeat folding and the one-WriteFile-per-line output.
#include "kern/fd_logger.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "kern/error_text.h"
#include "kern/strings.h"

namespace {
bool read_repeat_switch() { return std::getenv("TALOND_NO_LASTREPEAT") == nullptr; }
bool repeat_switch = read_repeat_switch();
constexpr size_t max_write = 0x7FFFFF;
}  // namespace

bool fd_logger_t::repeat_suppression() { return repeat_switch; }

void fd_logger_t::set_repeat_suppression(bool on) { repeat_switch = on; }

fd_logger_t::fd_logger_t(int fd)
    : fd_(fd),
      handle_(fd == -1 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(_get_osfhandle(fd))) {}

fd_logger_t::~fd_logger_t() {
  try {
    critsect_locker_t guard(repeat_lock_);
    flush_repeat();
  } catch (...) {
  }
}

void fd_logger_t::flush_repeat() {
  if (!repeat_switch || repeat_count_ == 1) return;
  std::string line = last_prefix_;
  line += "[Logger] Last message repeated ";
  kern_n::append_decimal(line, repeat_count_);
  line += " times\n";
  output(line.c_str());
  repeat_count_ = 1;
  last_prefix_.clear();
  last_message_.clear();
}

void fd_logger_t::write(int level, const char* format, va_list args) {
  if (!repeat_switch || !is_enabled(level)) {
    if_logger_t::write(level, format, args);
    return;
  }
  // Another thread's different message would otherwise flush this one's
  // repeat line between this line's folding and its output.
  critsect_locker_t guard(repeat_lock_);
  if_logger_t::write(level, format, args);
}

void fd_logger_t::format_line(int level, std::string& out, const char* format, va_list args) {
  std::string prefix = make_line_prefix(level);
  std::string message;
  string_vprintf(message, format, args);
  if (!repeat_switch) {
    out = std::move(prefix);
    out += message;
    out += "\r\n";
    return;
  }
  critsect_locker_t guard(repeat_lock_);
  if (message == last_message_) {
    last_prefix_ = std::move(prefix);
    ++repeat_count_;
    out.clear();
    return;
  }
  out = prefix;
  out += message;
  out += "\r\n";
  flush_repeat();
  last_prefix_ = std::move(prefix);
  last_message_ = std::move(message);
}

int fd_logger_t::output(const char* text) {
  if (fd_ == -1 || text == nullptr || *text == '\0') return 0;
  size_t length = std::strlen(text);
  if (length > max_write) length = max_write;
  critsect_locker_t guard(write_lock_);
  DWORD written = 0;
  if (WriteFile(handle_, text, static_cast<DWORD>(length), &written, nullptr)) {
    write_failed_ = false;
  } else if (!write_failed_) {
    write_failed_ = true;
    const error_saver_t saved;
    const std::string reason = get_last_error(saved);
    saved.restore();
    notify_listeners(lvl_fatal, reason.c_str());
  }
  return static_cast<int>(written);
}
