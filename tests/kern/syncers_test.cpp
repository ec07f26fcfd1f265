// Locks under real contention: recursion, the mutex's error texts, the
// condition variable's wake rules, and both preference modes of rwlock_t.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "kern/exceptions.h"
#include "kern/syncers.h"
#include "system_text.h"

namespace {

using namespace std::chrono_literals;

// Polls until cond holds or two seconds pass.
template <class F>
bool eventually(F cond) {
  for (int i = 0; i < 2000; ++i) {
    if (cond()) return true;
    std::this_thread::sleep_for(1ms);
  }
  return cond();
}

TEST(critical_section, recursive_and_exclusive) {
  critical_section_t cs;
  std::atomic<int> inside{0};
  int max_inside = 0;
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        critsect_locker_t outer(cs);
        critsect_locker_t again(cs);  // the same thread may enter twice
        const int now = ++inside;
        if (now > max_inside) max_inside = now;
        ++counter;
        --inside;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 80000);
  EXPECT_EQ(max_inside, 1);
}

TEST(late_locker, points_at_a_lock_later_and_moves) {
  critical_section_t a, b;
  std::atomic<bool> got_a{false};
  {
    late_locker_t late;
    late.set(&a);
    std::thread probe([&] {
      critsect_locker_t guard(a);
      got_a = true;
    });
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(got_a);
    late.set(&b);  // releases a first
    probe.join();
    EXPECT_TRUE(got_a);
  }
  // b was released by the destructor.
  std::thread other([&] { critsect_locker_t guard(b); });
  other.join();
}

TEST(mutex, unlock_without_owning_throws_with_the_system_text) {
  mutex_t m;
  errno = 0;  // the text carries errno too when it is set
  try {
    m.unlock();
    FAIL();
  } catch (const sync_exception_shell_t& e) {
    EXPECT_EQ(std::string(e.what()),
              "unable to unlock mutex because od " +
                  test_support::system_text(288, "Attempt to release mutex not owned by caller") + " (code=288)");
  }
  m.lock();
  std::atomic<bool> other_locked{false};
  std::thread t([&] {
    m.lock();
    other_locked = true;
    m.unlock();
  });
  std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(other_locked);
  m.unlock();
  t.join();
  EXPECT_TRUE(other_locked);
}

// count threads blocked in cv.wait(m), each counting itself in woken when it
// wakes; whatever a test leaves waiting is woken and joined at the end.
class waiters_t {
 public:
  waiters_t(mutex_t& m, condvar_t& cv, int count) : m_(m), cv_(cv) {
    for (int i = 0; i < count; ++i) {
      threads_.emplace_back([this] {
        mutex_locker_t guard(m_);
        ++waiting_;
        cv_.wait(m_);
        ++woken;
      });
    }
  }
  ~waiters_t() {
    while (woken < static_cast<int>(threads_.size())) {
      mutex_locker_t guard(m_);
      cv_.broadcast();
    }
    for (auto& t : threads_) t.join();
  }
  // True once every thread waits on the condition variable.
  bool all_waiting() {
    return eventually([&] {
      mutex_locker_t guard(m_);
      return waiting_ == static_cast<int>(threads_.size());
    });
  }

  std::atomic<int> woken{0};

 private:
  mutex_t& m_;
  condvar_t& cv_;
  int waiting_ = 0;  // under m_
  std::vector<std::thread> threads_;
};

TEST(condvar, signal_without_waiters_stores_nothing) {
  mutex_t m;
  condvar_t cv;
  cv.signal();
  cv.broadcast();
  // A waiter arriving afterwards must block until a later signal.
  waiters_t waiter(m, cv, 1);
  ASSERT_TRUE(waiter.all_waiting());
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(waiter.woken, 0);
  {
    mutex_locker_t guard(m);
    cv.signal();
  }
  EXPECT_TRUE(eventually([&] { return waiter.woken == 1; }));
}

TEST(condvar, signal_wakes_one_broadcast_wakes_all) {
  mutex_t m;
  condvar_t cv;
  waiters_t waiters(m, cv, 5);
  ASSERT_TRUE(waiters.all_waiting());
  {
    mutex_locker_t guard(m);
    cv.signal();
  }
  ASSERT_TRUE(eventually([&] { return waiters.woken == 1; }));
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(waiters.woken, 1);
  {
    mutex_locker_t guard(m);
    cv.broadcast();  // returns after every waiter has left the semaphore
  }
  EXPECT_TRUE(eventually([&] { return waiters.woken == 5; }));
}

TEST(condvar, notify_follows_the_flag) {
  for (bool all : {false, true}) {
    mutex_t m;
    condvar_t cv(all);
    waiters_t waiters(m, cv, 3);
    ASSERT_TRUE(waiters.all_waiting());
    {
      mutex_locker_t guard(m);
      cv.notify();
    }
    ASSERT_TRUE(eventually([&] { return waiters.woken >= 1; }));
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(waiters.woken, all ? 3 : 1);
  }
}

class rwlock_mode_t {
 public:
  explicit rwlock_mode_t(bool writer_first) : saved_(rwlock_t::writer_first()) {
    rwlock_t::set_writer_first(writer_first);
  }
  ~rwlock_mode_t() { rwlock_t::set_writer_first(saved_); }

 private:
  bool saved_;
};

TEST(rwlock, readers_share_writers_exclude) {
  rwlock_t lock;
  std::atomic<int> readers{0}, writers{0};
  std::atomic<bool> overlap{false};
  int max_readers = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 3000; ++i) {
        if (t % 3 == 0) {
          write_locker_t guard(lock);
          if (++writers != 1 || readers != 0) overlap = true;
          --writers;
        } else {
          read_locker_t guard(lock);
          const int r = ++readers;
          if (r > max_readers) max_readers = r;
          if (writers != 0) overlap = true;
          --readers;
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_FALSE(overlap);
}

TEST(rwlock, writer_waits_for_the_last_reader) {
  rwlock_mode_t mode(false);
  rwlock_t lock;
  lock.read_lock();
  lock.read_lock();  // a second reader gets in at once
  std::atomic<bool> writing{false};
  std::thread writer([&] {
    lock.write_lock();
    writing = true;
    lock.unlock();
  });
  std::this_thread::sleep_for(30ms);
  lock.unlock();
  std::this_thread::sleep_for(30ms);
  EXPECT_FALSE(writing) << "one reader still holds the lock";
  lock.unlock();
  writer.join();
  EXPECT_TRUE(writing);
}

// With a writer waiting behind a reader, does a newly arriving reader get in?
bool new_reader_passes_waiting_writer(bool writer_first) {
  rwlock_mode_t mode(writer_first);
  rwlock_t lock;
  lock.read_lock();
  std::atomic<bool> writer_done{false};
  std::thread writer([&] {
    lock.write_lock();
    writer_done = true;
    lock.unlock();
  });
  std::this_thread::sleep_for(50ms);  // the writer is now waiting
  std::atomic<bool> reader_in{false};
  std::thread reader([&] {
    lock.read_lock();
    reader_in = true;
    lock.unlock();
  });
  std::this_thread::sleep_for(50ms);
  const bool passed = reader_in && !writer_done;
  lock.unlock();
  writer.join();
  reader.join();
  return passed;
}

TEST(rwlock, preference_switch) {
  EXPECT_TRUE(new_reader_passes_waiting_writer(false));
  EXPECT_FALSE(new_reader_passes_waiting_writer(true));
}

}  // namespace
