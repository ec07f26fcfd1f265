// Locks with one error policy (every system failure throws a sync_exception
// kind with the system's text): the recursive critical section, the mutex, a
// condition variable and a reader/writer lock built on them, scoped lockers.
#pragma once

#include <cstdint>

#include "kern/types.h"
#include "platform/win32.h"

class critical_section_t : public noncopyable_t, public virtual if_root_t {
 public:
  critical_section_t();
  ~critical_section_t() override;
  void lock() { EnterCriticalSection(&section_); }
  void unlock() { LeaveCriticalSection(&section_); }
  // Takes the lock only if no other thread holds it; never waits.
  bool try_lock() { return TryEnterCriticalSection(&section_) != FALSE; }

 private:
  CRITICAL_SECTION section_;
};

class mutex_t : public noncopyable_t, public virtual if_root_t {
 public:
  mutex_t();
  ~mutex_t() override;
  void lock();
  void unlock();

 private:
  HANDLE handle_;
};

class condvar_t : public noncopyable_t, public virtual if_root_t {
 public:
  // notify_all: notify() wakes every waiter (broadcast) instead of one.
  explicit condvar_t(bool notify_all = false);
  ~condvar_t() override;
  // The caller holds m; it is released while waiting and held again on return
  // (also when the wait fails).
  void wait(mutex_t& m);
  void signal();
  void broadcast();
  void notify() { notify_all_ ? broadcast() : signal(); }
  // Threads inside wait now (for tests and diagnostics).
  int32_t waiting();

 private:
  // One waiter goes: the last one a broadcast woke tells the broadcaster.
  void leave();

  struct impl_t;
  impl_t* impl_;
  bool notify_all_;
};

class rwlock_t : public noncopyable_t, public virtual if_root_t {
 public:
  rwlock_t();
  void read_lock();
  void write_lock();
  void unlock();
  // Threads waiting for a read or a write lock now (for tests and diagnostics).
  int32_t waiting_readers();
  int32_t waiting_writers();

  // Whether TALOND_RWLOCK_READPREFERED was present at load: waiting writers go
  // first and new readers queue behind them.
  static bool writer_first();
  // For tests: change the process-wide switch.
  static void set_writer_first(bool on);

 private:
  mutex_t inner_;
  condvar_t readers_;
  condvar_t writers_;
  int32_t waiting_readers_ = 0;
  int32_t waiting_writers_ = 0;
  int32_t state_ = 0;  // 0 free, n > 0 readers, -1 one writer
};

namespace kern_n::detail {
// Logs (level 1) the failure being handled: a lock that cannot be released in
// a destructor. A destructor never throws: it may run while another exception
// unwinds the stack, and a second one would end the process.
void report_unlock_failure() noexcept;
}  // namespace kern_n::detail

// Takes the lock with Acquire in the constructor, unlocks in the destructor.
template <class Lock, void (Lock::*Acquire)()>
class basic_locker_t : public noncopyable_t {
 public:
  explicit basic_locker_t(Lock& lock) : lock_(&lock) { (lock_->*Acquire)(); }
  ~basic_locker_t() {
    try {
      lock_->unlock();
    } catch (...) {
      kern_n::detail::report_unlock_failure();
    }
  }

 private:
  Lock* lock_;
};

template <class Lock>
using scoped_locker_t = basic_locker_t<Lock, &Lock::lock>;
typedef scoped_locker_t<critical_section_t> critsect_locker_t;
typedef scoped_locker_t<mutex_t> mutex_locker_t;
typedef basic_locker_t<rwlock_t, &rwlock_t::read_lock> read_locker_t;
typedef basic_locker_t<rwlock_t, &rwlock_t::write_lock> write_locker_t;

// Starts empty; can be pointed at a lock later. Pointing it at another lock
// (or at none) first unlocks the one it holds.
class late_locker_t : public noncopyable_t {
 public:
  late_locker_t() = default;
  explicit late_locker_t(critical_section_t& lock) { set(&lock); }
  ~late_locker_t() { set(nullptr); }
  void set(critical_section_t* lock) {
    if (lock_ != nullptr) lock_->unlock();
    lock_ = lock;
    if (lock_ != nullptr) lock_->lock();
  }
  void release() { set(nullptr); }

 private:
  critical_section_t* lock_ = nullptr;
};
