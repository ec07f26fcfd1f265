// A logger writing to a C runtime descriptor (standard error by default) that
// folds runs of identical messages into one "repeated" line.
#pragma once

#include <string>

#include "kern/logger.h"
#include "platform/win32.h"

class fd_logger_t : public if_logger_t {
 public:
  explicit fd_logger_t(int fd = 2);
  ~fd_logger_t() override;

  // With folding on, the line goes out under the repeat lock, so that a
  // repeat line never comes out ahead of the line it counts.
  void write(int level, const char* format, va_list args) override;
  void format_line(int level, std::string& out, const char* format, va_list args) override;
  int output(const char* text) override;

  // Whether TALOND_NO_LASTREPEAT was absent at load (folding on).
  static bool repeat_suppression();
  // For tests: change the process-wide switch.
  static void set_repeat_suppression(bool on);

 private:
  // Writes the pending "Last message repeated" line, if any; caller holds the
  // repeat lock.
  void flush_repeat();

  int fd_;
  bool write_failed_ = false;
  std::string last_prefix_;
  std::string last_message_;
  uint32_t repeat_count_ = 1;
  critical_section_t repeat_lock_;
  critical_section_t write_lock_;
  HANDLE handle_;
};
