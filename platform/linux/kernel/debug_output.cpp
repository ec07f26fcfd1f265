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

#include "platform/linux/kernel/write_all.h"
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
      plat_linux::write_all(target, line.data(), line.size());
    }
  }
  errno = saved_errno;
  SetLastError(saved_error);
}
