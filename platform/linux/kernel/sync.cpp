// Stand-in for critical sections and the mutex, semaphore and event objects,
// with the Win32 wait and release semantics the lock classes are built on.
#include <chrono>
#include <climits>

#include "platform/linux/kernel/errno_guard.h"
#include "platform/linux/kernel/kobject.h"

namespace plat_linux {

namespace {

class mutex_object_t : public waitable_t {
 public:
  explicit mutex_object_t(bool owned) : waitable_t(kind_t::mutex) {
    if (owned) {
      owner = GetCurrentThreadId();
      depth = 1;
    }
  }
  bool release() {
    std::lock_guard<std::mutex> guard(lock);
    if (depth == 0 || owner != GetCurrentThreadId()) return false;
    if (--depth == 0) {
      owner = 0;
      changed.notify_one();
    }
    return true;
  }

 private:
  bool try_acquire() override {
    const DWORD self = GetCurrentThreadId();
    if (depth != 0 && owner != self) return false;
    owner = self;
    ++depth;
    return true;
  }
  DWORD owner = 0;
  unsigned depth = 0;
};

class semaphore_object_t : public waitable_t {
 public:
  semaphore_object_t(LONG initial, LONG maximum)
      : waitable_t(kind_t::semaphore), count(initial), maximum(maximum) {}
  bool release(LONG n, LONG* previous) {
    std::lock_guard<std::mutex> guard(lock);
    if (n <= 0 || n > maximum - count) return false;
    if (previous) *previous = count;
    count += n;
    if (n == 1) {
      changed.notify_one();
    } else {
      changed.notify_all();
    }
    return true;
  }

 private:
  bool try_acquire() override {
    if (count == 0) return false;
    --count;
    return true;
  }
  LONG count;
  const LONG maximum;
};

class event_object_t : public waitable_t {
 public:
  event_object_t(bool manual, bool initial)
      : waitable_t(kind_t::event), manual(manual), signalled(initial) {}
  void set(bool value) {
    std::lock_guard<std::mutex> guard(lock);
    signalled = value;
    if (value) {
      if (manual) {
        changed.notify_all();
      } else {
        changed.notify_one();
      }
    }
  }

 private:
  bool try_acquire() override {
    if (!signalled) return false;
    if (!manual) signalled = false;
    return true;
  }
  const bool manual;
  bool signalled;
};

template <class T>
T* as(HANDLE h, kobject_t::kind_t kind) {
  kobject_t* object = from_handle(h);
  if (object == nullptr || object->kind != kind) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return static_cast<T*>(object);
}

}  // namespace

DWORD waitable_t::wait(DWORD milliseconds) {
  std::unique_lock<std::mutex> guard(lock);
  if (milliseconds == INFINITE) {
    changed.wait(guard, [this] { return try_acquire(); });
    return WAIT_OBJECT_0;
  }
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  if (changed.wait_until(guard, until, [this] { return try_acquire(); })) return WAIT_OBJECT_0;
  return WAIT_TIMEOUT;
}

kobject_t* from_handle(HANDLE h) {
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return nullptr;
  return static_cast<kobject_t*>(h);
}

}  // namespace plat_linux

using namespace plat_linux;

BOOL InitializeCriticalSectionAndSpinCount(CRITICAL_SECTION* cs, DWORD) {
  const plat_linux::errno_guard_t keep_errno;
  pthread_mutexattr_t attr;
  if (pthread_mutexattr_init(&attr) != 0) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  const int rc = pthread_mutex_init(&cs->mutex, &attr);
  pthread_mutexattr_destroy(&attr);
  if (rc != 0) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  return TRUE;
}

void DeleteCriticalSection(CRITICAL_SECTION* cs) { pthread_mutex_destroy(&cs->mutex); }

void EnterCriticalSection(CRITICAL_SECTION* cs) { pthread_mutex_lock(&cs->mutex); }

BOOL TryEnterCriticalSection(CRITICAL_SECTION* cs) {
  return pthread_mutex_trylock(&cs->mutex) == 0 ? TRUE : FALSE;
}

void LeaveCriticalSection(CRITICAL_SECTION* cs) { pthread_mutex_unlock(&cs->mutex); }

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL initial_owner, LPCSTR) {
  const plat_linux::errno_guard_t keep_errno;
  return new (std::nothrow) mutex_object_t(initial_owner != FALSE);
}

BOOL ReleaseMutex(HANDLE h) {
  auto* m = as<mutex_object_t>(h, kobject_t::kind_t::mutex);
  if (m == nullptr) return FALSE;
  if (!m->release()) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  return TRUE;
}

HANDLE CreateSemaphoreA(LPSECURITY_ATTRIBUTES, LONG initial, LONG maximum, LPCSTR) {
  const plat_linux::errno_guard_t keep_errno;
  if (maximum <= 0 || initial < 0 || initial > maximum) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return new (std::nothrow) semaphore_object_t(initial, maximum);
}

BOOL ReleaseSemaphore(HANDLE h, LONG count, LONG* previous) {
  auto* s = as<semaphore_object_t>(h, kobject_t::kind_t::semaphore);
  if (s == nullptr) return FALSE;
  if (!s->release(count, previous)) {
    SetLastError(count <= 0 ? ERROR_INVALID_PARAMETER : ERROR_TOO_MANY_POSTS);
    return FALSE;
  }
  return TRUE;
}

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manual_reset, BOOL initial, LPCSTR) {
  const plat_linux::errno_guard_t keep_errno;
  return new (std::nothrow) event_object_t(manual_reset != FALSE, initial != FALSE);
}

BOOL SetEvent(HANDLE h) {
  auto* e = as<event_object_t>(h, kobject_t::kind_t::event);
  if (e == nullptr) return FALSE;
  e->set(true);
  return TRUE;
}

BOOL ResetEvent(HANDLE h) {
  auto* e = as<event_object_t>(h, kobject_t::kind_t::event);
  if (e == nullptr) return FALSE;
  e->set(false);
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE h, DWORD milliseconds) {
  const plat_linux::errno_guard_t keep_errno;
  kobject_t* object = from_handle(h);
  if (object == nullptr || object->kind == kobject_t::kind_t::file) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  return static_cast<waitable_t*>(object)->wait(milliseconds);
}

BOOL CloseHandle(HANDLE h) {
  const plat_linux::errno_guard_t keep_errno;
  kobject_t* object = from_handle(h);
  if (object == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  delete object;
  return TRUE;
}
