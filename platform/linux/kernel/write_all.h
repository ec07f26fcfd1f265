// Writes a whole buffer to a file descriptor, as the stand-in's line sinks
// (debugger output, event log) need: a short write goes on, a signal retries.
#pragma once

#include <cerrno>
#include <cstddef>
#include <unistd.h>

namespace plat_linux {

// False when the descriptor took less than all of it.
inline bool write_all(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace plat_linux
