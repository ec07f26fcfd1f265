// Stand-in for the Windows C runtime's secure forms the tree calls, over
// their POSIX counterparts.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/win32.h"

int strerror_s(char* buffer, size_t size, int error) {
  if (buffer == nullptr || size == 0) return EINVAL;
  // GNU strerror_r may hand back a static text instead of filling buffer.
  const char* text = strerror_r(error, buffer, size);
  if (text != buffer) {
    const size_t n = std::min(std::strlen(text), size - 1);
    std::memmove(buffer, text, n);
    buffer[n] = '\0';
  }
  return 0;
}

int localtime_s(struct tm* out, const time_t* time) {
  if (out == nullptr || time == nullptr) return EINVAL;
  return localtime_r(time, out) != nullptr ? 0 : EINVAL;
}
