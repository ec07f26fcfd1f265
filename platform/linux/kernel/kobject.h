// Kernel objects behind the stand-in's HANDLE values: each handle points at one
// of these, and CloseHandle destroys it.
#pragma once

#include <condition_variable>
#include <mutex>

#include "platform/win32.h"

namespace plat_linux {

class kobject_t {
 public:
  enum class kind_t { mutex, semaphore, event, file };
  explicit kobject_t(kind_t kind) : kind(kind) {}
  virtual ~kobject_t() = default;
  const kind_t kind;
};

class waitable_t : public kobject_t {
 public:
  using kobject_t::kobject_t;
  // Returns once the object is acquired or the time is up (WAIT_TIMEOUT).
  DWORD wait(DWORD milliseconds);

 protected:
  virtual bool try_acquire() = 0;  // called with lock held
  std::mutex lock;
  std::condition_variable changed;
};

class file_t : public kobject_t {
 public:
  explicit file_t(int fd) : kobject_t(kind_t::file), fd(fd) {}
  const int fd;
};

kobject_t* from_handle(HANDLE h);

}  // namespace plat_linux
