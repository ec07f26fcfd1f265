// Stand-in for the C runtime's descriptor-to-handle mapping and WriteFile.
#include <cerrno>
#include <map>
#include <mutex>
#include <unistd.h>

#include "platform/linux/kernel/errno_guard.h"
#include "platform/linux/kernel/kobject.h"

using plat_linux::file_t;

intptr_t _get_osfhandle(int fd) {
  if (fd < 0) {
    errno = EBADF;
    return -1;
  }
  // The handle belongs to the descriptor table, not to the caller, as on
  // Windows: one object per descriptor for the life of the process.
  static std::mutex lock;
  static auto* table = new std::map<int, file_t*>;
  std::lock_guard<std::mutex> guard(lock);
  file_t*& slot = (*table)[fd];
  if (slot == nullptr) slot = new file_t(fd);
  return reinterpret_cast<intptr_t>(slot);
}

BOOL WriteFile(HANDLE h, LPCVOID data, DWORD size, LPDWORD written, void*) {
  const plat_linux::errno_guard_t keep_errno;
  auto* object = plat_linux::from_handle(h);
  if (written) *written = 0;
  if (object == nullptr || object->kind != plat_linux::kobject_t::kind_t::file) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const int fd = static_cast<file_t*>(object)->fd;
  const char* p = static_cast<const char*>(data);
  DWORD done = 0;
  // WriteFile on a blocking handle writes everything or fails.
  while (done < size) {
    const ssize_t n = ::write(fd, p + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      SetLastError(errno == EBADF ? ERROR_INVALID_HANDLE
                   : errno == EACCES || errno == EPERM ? ERROR_ACCESS_DENIED
                   : errno == ENOSPC ? 112u
                                     : 31u);
      if (written) *written = done;
      return FALSE;
    }
    done += static_cast<DWORD>(n);
  }
  if (written) *written = done;
  return TRUE;
}
