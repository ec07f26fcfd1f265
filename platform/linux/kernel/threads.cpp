// Stand-in for process and thread identity, thread CPU times and thread-local
// storage slots.
#include <ctime>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/linux/kernel/errno_guard.h"
#include "platform/win32.h"

namespace {
// The value GetCurrentThread returns on Windows: a pseudo-handle, not an object.
HANDLE const current_thread_pseudo = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2));

void to_filetime(uint64_t hundred_ns, FILETIME* out) {
  out->dwLowDateTime = static_cast<DWORD>(hundred_ns);
  out->dwHighDateTime = static_cast<DWORD>(hundred_ns >> 32);
}
}  // namespace

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

DWORD GetCurrentThreadId() {
  thread_local DWORD id = static_cast<DWORD>(syscall(SYS_gettid));
  return id;
}

HANDLE GetCurrentThread() { return current_thread_pseudo; }

BOOL GetThreadTimes(HANDLE thread, FILETIME* creation, FILETIME* exit, FILETIME* kernel,
                    FILETIME* user) {
  const plat_linux::errno_guard_t keep_errno;
  if (thread != current_thread_pseudo) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  timespec ts{};
  if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // Linux reports one CPU time for the thread; count it as user time.
  to_filetime(0, creation);
  to_filetime(0, exit);
  to_filetime(0, kernel);
  to_filetime(static_cast<uint64_t>(ts.tv_sec) * 10000000u + static_cast<uint64_t>(ts.tv_nsec) / 100u,
              user);
  return TRUE;
}

DWORD TlsAlloc() {
  const plat_linux::errno_guard_t keep_errno;
  pthread_key_t key;
  if (pthread_key_create(&key, nullptr) != 0) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return TLS_OUT_OF_INDEXES;
  }
  return static_cast<DWORD>(key);
}

BOOL TlsFree(DWORD index) {
  const plat_linux::errno_guard_t keep_errno;
  if (pthread_key_delete(static_cast<pthread_key_t>(index)) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}

LPVOID TlsGetValue(DWORD index) {
  // Windows clears the last error on a successful read; callers rely on it to
  // tell a stored null from a failure.
  SetLastError(ERROR_SUCCESS);
  return pthread_getspecific(static_cast<pthread_key_t>(index));
}

BOOL TlsSetValue(DWORD index, LPVOID value) {
  const plat_linux::errno_guard_t keep_errno;
  if (pthread_setspecific(static_cast<pthread_key_t>(index), value) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}
