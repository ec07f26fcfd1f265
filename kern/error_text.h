// System error values captured at the failure point and rendered as text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// errno and the Win32 last error, captured in that order at construction.
// Take it at once after the failing call, on the same thread.
class error_saver_t {
 public:
  error_saver_t();
  error_saver_t(int errno_value, uint32_t win32_value) : errno_(errno_value), win32_(win32_value) {}
  int errno_value() const { return errno_; }
  uint32_t win32_value() const { return win32_; }
  // Puts both values back, so that code logging a failure leaves them as found.
  void restore() const;

 private:
  int errno_;
  uint32_t win32_;
};

// "No errors detected", the system text of the Win32 error, and/or the runtime
// text of errno ("Runtime error is ... (errno=N)").
std::string get_last_error(const error_saver_t& saved);
// The same for the current values; both are left unchanged.
std::string get_last_error();

// The system's text of a Win32 error code as "<text> (code=N)"; never fails.
void format_system_error(uint32_t code, char* buffer, size_t size);
std::string format_system_error(uint32_t code);
