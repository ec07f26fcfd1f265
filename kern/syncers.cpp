// Lock classes over the platform's critical sections, mutexes, semaphores and
// events; the condition variable and reader/writer lock algorithms.
#include "kern/syncers.h"

#include <cstdlib>

#include "kern/error_text.h"
#include "kern/exceptions.h"
#include "kern/logger.h"
#include "kern/runnable.h"

namespace {

bool read_writer_first() { return std::getenv("TALOND_RWLOCK_READPREFERED") != nullptr; }
bool writer_first_switch = read_writer_first();

// Waits on a semaphore or an event: true when signalled, false on a time-out
// with a finite limit, an exception for everything else.
bool wait_object(HANDLE h, DWORD milliseconds, const char* what) {
  const DWORD rc = WaitForSingleObject(h, milliseconds);
  if (rc == WAIT_OBJECT_0) return true;
  if (rc == WAIT_TIMEOUT && milliseconds != INFINITE) return false;
  const error_saver_t saved;
  const std::string text = get_last_error(saved);
  KERN_THROW(condvar_exception, "unable to wait condvar %s because of %s", what, text.c_str());
}

// Takes the caller's mutex again after a failed wait, whose failure is the
// one that travels on.
void relock_after_failure(mutex_t& m) noexcept {
  try {
    m.lock();
  } catch (...) {
  }
}

}  // namespace

void kern_n::detail::report_unlock_failure() noexcept {
  try {
    if (kern_n::log_enabled(lvl_error)) KLOG(lvl_error, "%s", kern_n::describe_current_exception().c_str());
  } catch (...) {
  }
}

// ---- critical_section_t ----------------------------------------------------------

critical_section_t::critical_section_t() {
  if (!InitializeCriticalSectionAndSpinCount(&section_, 0)) {
    KERN_THROW(critsect_exception, "unable to initialize critical section");
  }
}

critical_section_t::~critical_section_t() { DeleteCriticalSection(&section_); }

// ---- mutex_t ------------------------------------------------------------------------

mutex_t::mutex_t() : handle_(CreateMutexA(nullptr, FALSE, nullptr)) {
  if (handle_ == nullptr) {
    const error_saver_t saved;
    KERN_THROW(mutex_exception, "unable to create mutex because of %s", get_last_error(saved).c_str());
  }
}

mutex_t::~mutex_t() { CloseHandle(handle_); }

void mutex_t::lock() {
  const DWORD rc = WaitForSingleObject(handle_, INFINITE);
  if (rc == WAIT_OBJECT_0 || rc == WAIT_ABANDONED) return;
  const error_saver_t saved;
  KERN_THROW(mutex_exception, "unable to lock mutex because of %s", get_last_error(saved).c_str());
}

void mutex_t::unlock() {
  if (ReleaseMutex(handle_)) return;
  const error_saver_t saved;
  KERN_THROW(mutex_exception, "unable to unlock mutex because od %s", get_last_error(saved).c_str());
}

// ---- condvar_t ----------------------------------------------------------------------

struct condvar_t::impl_t {
  critical_section_t waiters_lock;
  int32_t waiters = 0;
  HANDLE semaphore = nullptr;
  HANDLE waiters_done = nullptr;
  bool was_broadcast = false;

  impl_t() {
    semaphore = CreateSemaphoreA(nullptr, 0, 0x7FFFFFFF, nullptr);
    if (semaphore == nullptr) {
      const error_saver_t saved;
      KERN_THROW(condvar_exception, "unable to create condvar semaphore because of %s",
                 get_last_error(saved).c_str());
    }
    waiters_done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (waiters_done == nullptr) {
      const error_saver_t saved;
      const std::string text = get_last_error(saved);
      CloseHandle(semaphore);
      KERN_THROW(condvar_exception, "unable to create condvar event because of %s", text.c_str());
    }
  }
  ~impl_t() {
    CloseHandle(waiters_done);
    CloseHandle(semaphore);
  }
};

condvar_t::condvar_t(bool notify_all) : impl_(new impl_t), notify_all_(notify_all) {}

condvar_t::~condvar_t() { delete impl_; }

void condvar_t::wait(mutex_t& m) {
  {
    critsect_locker_t guard(impl_->waiters_lock);
    ++impl_->waiters;
  }
  try {
    m.unlock();
  } catch (...) {
    leave();  // never waited: not counted either
    throw;
  }
  // The caller's mutex is taken again on every way out; when the wait failed,
  // that failure is the one the caller gets.
  try {
    wait_object(impl_->semaphore, INFINITE, "semaphore");
  } catch (...) {
    try {
      leave();  // a broadcaster may be waiting for this waiter to go
    } catch (...) {
    }
    relock_after_failure(m);
    throw;
  }
  try {
    leave();
  } catch (...) {
    relock_after_failure(m);
    throw;
  }
  m.lock();
}

void condvar_t::leave() {
  bool last;
  {
    critsect_locker_t guard(impl_->waiters_lock);
    --impl_->waiters;
    last = impl_->was_broadcast && impl_->waiters == 0;
  }
  if (last && !SetEvent(impl_->waiters_done)) {
    const error_saver_t saved;
    KERN_THROW(condvar_exception, "unable to set condvar event because of %s",
               get_last_error(saved).c_str());
  }
}

int32_t condvar_t::waiting() {
  critsect_locker_t guard(impl_->waiters_lock);
  return impl_->waiters;
}

void condvar_t::signal() {
  bool have;
  {
    critsect_locker_t guard(impl_->waiters_lock);
    have = impl_->waiters > 0;
  }
  if (have && !ReleaseSemaphore(impl_->semaphore, 1, nullptr)) {
    const error_saver_t saved;
    KERN_THROW(condvar_exception, "unable to post condvar semaphore because of %s",
               get_last_error(saved).c_str());
  }
}

void condvar_t::broadcast() {
  int32_t count = 0;
  {
    critsect_locker_t guard(impl_->waiters_lock);
    if (impl_->waiters >= 1) {
      impl_->was_broadcast = true;
      count = impl_->waiters;
    }
  }
  if (count == 0) return;
  // The flag is the waiters' to read: cleared under their lock, on every way out.
  struct clear_t {
    impl_t& impl;
    ~clear_t() {
      critsect_locker_t guard(impl.waiters_lock);
      impl.was_broadcast = false;
    }
  } clear{*impl_};
  if (!ReleaseSemaphore(impl_->semaphore, count, nullptr)) {
    const error_saver_t saved;
    KERN_THROW(condvar_exception, "unable to post condvar semaphore because of %s",
               get_last_error(saved).c_str());
  }
  wait_object(impl_->waiters_done, INFINITE, "event");
}

// ---- rwlock_t ---------------------------------------------------------------------

rwlock_t::rwlock_t() : readers_(true), writers_(false) {}

bool rwlock_t::writer_first() { return writer_first_switch; }

void rwlock_t::set_writer_first(bool on) { writer_first_switch = on; }

void rwlock_t::read_lock() {
  mutex_locker_t guard(inner_);
  while (state_ < 0 || (writer_first_switch && waiting_writers_ > 0)) {
    ++waiting_readers_;
    try {
      readers_.wait(inner_);
    } catch (...) {
      --waiting_readers_;
      throw;
    }
    --waiting_readers_;
  }
  ++state_;
}

void rwlock_t::write_lock() {
  mutex_locker_t guard(inner_);
  while (state_ != 0) {
    ++waiting_writers_;
    try {
      writers_.wait(inner_);
    } catch (...) {
      --waiting_writers_;
      throw;
    }
    --waiting_writers_;
  }
  state_ = -1;
}

int32_t rwlock_t::waiting_readers() {
  mutex_locker_t guard(inner_);
  return waiting_readers_;
}

int32_t rwlock_t::waiting_writers() {
  mutex_locker_t guard(inner_);
  return waiting_writers_;
}

void rwlock_t::unlock() {
  mutex_locker_t guard(inner_);
  if (state_ > 0) {
    --state_;
  } else if (state_ == -1) {
    state_ = 0;
  }
  if (!writer_first_switch) {
    if (waiting_readers_ > 0) {
      readers_.notify();
    } else if (waiting_writers_ > 0 && state_ == 0) {
      writers_.notify();
    }
  } else {
    if (waiting_writers_ > 0) {
      if (state_ == 0) writers_.notify();
    } else if (waiting_readers_ > 0) {
      readers_.notify();
    }
  }
}
