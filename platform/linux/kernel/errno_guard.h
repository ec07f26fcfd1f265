// Win32 calls leave the C runtime's errno alone; the stand-in works through
// libc, so each entry point that may touch errno keeps it with this guard.
#pragma once

#include <cerrno>

namespace plat_linux {
class errno_guard_t {
 public:
  errno_guard_t() : saved_(errno) {}
  ~errno_guard_t() { errno = saved_; }
  errno_guard_t(const errno_guard_t&) = delete;
  errno_guard_t& operator=(const errno_guard_t&) = delete;

 private:
  int saved_;
};
}  // namespace plat_linux
