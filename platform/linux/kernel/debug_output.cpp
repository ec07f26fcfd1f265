// Stand-in for the debugger output stream: each call becomes one line of the
// file named by SHV_DEBUG_OUTPUT (appended, created when missing), or of
// standard error when the variable is unset. A line is written with a single
// write() under one process-wide lock, so lines of concurrent threads (and, the
// file being opened for appending, of concurrent processes) never interleave.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <unistd.h>

#include "platform/win32.h"

namespace {
std::mutex& output_lock() {
  static auto* lock = new std::mutex;  // outlives every static destructor that logs
  return *lock;
}
}  // namespace

void OutputDebugStringA(LPCSTR text) {
  if (text == nullptr) return;
  const int saved_errno = errno;
  const DWORD saved_error = GetLastError();
  std::string line = text;
  if (line.empty() || line.back() != '\n') line += '\n';
  {
    std::lock_guard<std::mutex> guard(output_lock());
    static std::string open_path;
    static int fd = -1;
    const char* path = std::getenv("SHV_DEBUG_OUTPUT");
    int target = 2;
    if (path != nullptr && *path != '\0') {
      if (fd < 0 || open_path != path) {
        if (fd >= 0) ::close(fd);
        fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        open_path = fd >= 0 ? path : "";
      }
      target = fd;
    }
    if (target >= 0) {
      const char* p = line.data();
      size_t left = line.size();
      while (left > 0) {
        const ssize_t n = ::write(target, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        p += n;
        left -= static_cast<size_t>(n);
      }
    }
  }
  errno = saved_errno;
  SetLastError(saved_error);
}
