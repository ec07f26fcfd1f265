// Locks under real contention: recursion, the mutex's error texts, the
// condition variable's wake rules, and both preference modes of rwlock_t.
// Every wait is for the locks' own observable state (threads counted as
// waiting, who got the lock first), bounded generously, never a fixed sleep.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "capture_logger.h"
#include "eventually.h"
#include "kern/exceptions.h"
#include "kern/syncers.h"
#include "system_text.h"

namespace {

using test_support::capture_logger_t;

using test_support::eventually;

// Runs body on threads threads, iterations times each, and reports the most
// threads ever inside it at once.
template <class Lock, class Guard>
int most_inside(Lock& lock, int threads, int iterations) {
  std::atomic<int> inside{0};
  std::atomic<int> most{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&] {
      for (int i = 0; i < iterations; ++i) {
        Guard guard(lock);
        const int now = ++inside;
        if (now > most) most = now;
        --inside;
      }
    });
  }
  for (auto& w : workers) w.join();
  return most;
}

TEST(critical_section, recursive_and_exclusive) {
  critical_section_t cs;
  struct twice_t {
    critsect_locker_t outer, again;  // the same thread may enter twice
    explicit twice_t(critical_section_t& c) : outer(c), again(c) {}
  };
  EXPECT_EQ((most_inside<critical_section_t, twice_t>(cs, 4, 20000)), 1);
}

// Whether another thread finds lock free: it takes it without waiting and
// gives it back.
bool free_for_others(critical_section_t& lock) {
  bool free = false;
  std::thread([&] {
    free = lock.try_lock();
    if (free) lock.unlock();
  }).join();
  return free;
}

TEST(late_locker, points_at_a_lock_later_and_moves) {
  critical_section_t a, b;
  {
    late_locker_t late;
    EXPECT_TRUE(free_for_others(a)) << "an empty late locker holds nothing";
    late.set(&a);
    EXPECT_FALSE(free_for_others(a)) << "a is held by the late locker";
    late.set(&b);  // releases a first
    EXPECT_TRUE(free_for_others(a));
    EXPECT_FALSE(free_for_others(b));
  }
  EXPECT_TRUE(free_for_others(b)) << "b was released by the destructor";
}

TEST(mutex, exclusive_and_unlock_without_owning_throws_with_the_system_text) {
  mutex_t m;
  EXPECT_EQ((most_inside<mutex_t, mutex_locker_t>(m, 4, 2000)), 1);
  errno = 0;  // the text carries errno too when it is set
  const std::string not_owner =
      "unable to unlock mutex because od " +
      test_support::system_text(288, "Attempt to release mutex not owned by caller") + " (code=288)";
  try {
    m.unlock();
    FAIL();
  } catch (const sync_exception_shell_t& e) {
    EXPECT_EQ(std::string(e.what()), not_owner);
  }
  // A locker whose unlock fails logs it and never throws: a destructor may
  // run while another exception unwinds the stack, which must go on.
  capture_logger_t log(lvl_error);
  errno = 0;
  try {
    mutex_locker_t guard(m);
    m.unlock();
    throw std::runtime_error("first");
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "first");
  }
  EXPECT_EQ(log.messages(), std::vector<std::string>{not_owner});
}

// count threads blocked in cv.wait(m), each counting itself in woken when it
// wakes; whatever a test leaves waiting is woken and joined at the end.
class waiters_t {
 public:
  waiters_t(mutex_t& m, condvar_t& cv, int count) : m_(m), cv_(cv) {
    for (int i = 0; i < count; ++i) {
      threads_.emplace_back([this] {
        mutex_locker_t guard(m_);
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
    return eventually([&] { return cv_.waiting() == static_cast<int>(threads_.size()); });
  }

  std::atomic<int> woken{0};

 private:
  mutex_t& m_;
  condvar_t& cv_;
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
  EXPECT_EQ(cv.waiting(), 4);
  {
    mutex_locker_t guard(m);
    cv.broadcast();
    EXPECT_EQ(cv.waiting(), 0) << "broadcast returns after every waiter has left its wait";
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
      if (all) {
        EXPECT_EQ(cv.waiting(), 0) << "a broadcast returns after every waiter has left its wait";
      }
    }
    EXPECT_TRUE(eventually([&] { return waiters.woken == (all ? 3 : 1); }));
    EXPECT_EQ(cv.waiting(), all ? 0 : 2);
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
          ++readers;
          if (writers != 0) overlap = true;
          --readers;
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_FALSE(overlap);
}

TEST(rwlock, readers_hold_it_together) {
  rwlock_t lock;
  std::atomic<int> inside{0};
  auto reader = [&] {
    read_locker_t guard(lock);
    ++inside;
    // Each waits inside for the other: only a shared lock lets both in.
    return eventually([&] { return inside == 2; });
  };
  bool other_saw_both = false;
  std::thread other([&] { other_saw_both = reader(); });
  EXPECT_TRUE(reader());
  other.join();
  EXPECT_TRUE(other_saw_both);
}

// Threads that take the lock in a given mode and note the order in which
// they got it; each holds it only for that note.
class takers_t {
 public:
  explicit takers_t(rwlock_t& lock) : lock_(lock) {}
  ~takers_t() {
    for (auto& t : threads_) t.join();
  }
  void start(const std::string& name, bool write) {
    threads_.emplace_back([this, name, write] {
      if (write) {
        write_locker_t guard(lock_);
        note(name);
      } else {
        read_locker_t guard(lock_);
        note(name);
      }
    });
  }
  std::string order() {
    std::lock_guard<std::mutex> guard(order_lock_);
    return order_;
  }
  bool done(size_t count) {
    return eventually([&] { return order().size() == count; });
  }

 private:
  void note(const std::string& name) {
    std::lock_guard<std::mutex> guard(order_lock_);
    order_ += name;
  }
  rwlock_t& lock_;
  std::mutex order_lock_;
  std::string order_;
  std::vector<std::thread> threads_;
};

// A reader (R) and a writer (W) both wait behind a writer: the unlock wakes
// the readers by default, the writers first with the switch set.
TEST(rwlock, unlock_wakes_waiters_in_the_order_of_the_mode) {
  for (bool writer_first : {false, true}) {
    rwlock_mode_t mode(writer_first);
    rwlock_t lock;
    lock.write_lock();
    takers_t takers(lock);
    takers.start("R", false);
    takers.start("W", true);
    ASSERT_TRUE(eventually([&] { return lock.waiting_readers() == 1 && lock.waiting_writers() == 1; }));
    lock.unlock();
    ASSERT_TRUE(takers.done(2));
    EXPECT_EQ(takers.order(), writer_first ? "WR" : "RW");
  }
}

// Behind a reader, a writer (W) waits. A new reader (N) gets in at once by
// default; with the switch set it queues behind the writer.
TEST(rwlock, preference_switch_decides_for_a_new_reader) {
  for (bool writer_first : {false, true}) {
    rwlock_mode_t mode(writer_first);
    rwlock_t lock;
    lock.read_lock();
    takers_t takers(lock);
    takers.start("W", true);
    ASSERT_TRUE(eventually([&] { return lock.waiting_writers() == 1; }));
    takers.start("N", false);
    if (writer_first) {
      ASSERT_TRUE(eventually([&] { return lock.waiting_readers() == 1; }));
      EXPECT_EQ(takers.order(), "");
    } else {
      ASSERT_TRUE(eventually([&] { return takers.order() == "N"; })) << "the reader passes the waiting writer";
    }
    lock.unlock();
    ASSERT_TRUE(takers.done(2));
    EXPECT_EQ(takers.order(), writer_first ? "WN" : "NW");
  }
}

// A writer behind two readers gets in only once both have gone.
TEST(rwlock, writer_waits_for_the_last_reader) {
  rwlock_mode_t mode(false);
  rwlock_t lock;
  lock.read_lock();
  lock.read_lock();  // a second reader gets in at once
  std::atomic<int> readers{2};
  std::atomic<int> readers_at_write{-1};
  std::thread writer([&] {
    write_locker_t guard(lock);
    readers_at_write = readers.load();
  });
  ASSERT_TRUE(eventually([&] { return lock.waiting_writers() == 1; }));
  --readers;
  lock.unlock();
  EXPECT_EQ(readers_at_write, -1) << "one reader still holds the lock";
  --readers;
  lock.unlock();
  writer.join();
  EXPECT_EQ(readers_at_write, 0);
}

}  // namespace
