// dynamic_library_t over the platform loader, with one of five name-hashed
// locks held around each load.
#include "kern/dynamic_library.h"

#include <atomic>

#include "kern/error_text.h"
#include "kern/exceptions.h"
#include "kern/lazy.h"
#include "kern/logger.h"
#include "kern/syncers.h"
#include "kern/unload.h"

namespace {

using kern_n::lazy_t;

constexpr size_t lock_count = 5;
std::atomic<critical_section_t*> library_locks[lock_count];
// Made on first use (the entry point loads a library before the module's
// other static objects are built), given back at unload.
lazy_t<critical_section_t> global_lock;

// Created on first use under the global lock, checked again after taking it.
critical_section_t& library_lock(const char* name) {
  std::atomic<critical_section_t*>& slot = library_locks[lstr_t(name).hash() % lock_count];
  critical_section_t* lock = slot.load(std::memory_order_acquire);
  if (lock != nullptr) return *lock;
  critsect_locker_t guard(global_lock.get());
  lock = slot.load(std::memory_order_relaxed);
  if (lock == nullptr) {
    lock = new critical_section_t;
    slot.store(lock, std::memory_order_release);
  }
  return *lock;
}

typedef const char* (*signature_fn)();

}  // namespace

void dynamic_library_t::init(const char* name, const char* directory) {
  unload();
  std::string path;
  if (directory != nullptr && *directory != '\0') {
    path = directory;
    path += '/';
  }
  path += name;
  if (std::string(name).find('.') == std::string::npos) path += ".DLL";
  KLOG(lvl_debug3, "Loading library \"%s\"", path.c_str());
  HMODULE module;
  {
    critsect_locker_t guard(library_lock(name));
    module = LoadLibraryA(path.c_str());
  }
  if (module == nullptr) {
    const error_saver_t saved;
    const std::string reason = saved.win32_value() != 0 || saved.errno_value() != 0
                                   ? get_last_error(saved)
                                   : std::string("unknown error");
    KERN_THROW(library_load_exception, "load library \"%s\" failed because of %s", path.c_str(),
               reason.c_str());
  }
  module_ = module;
  path_ = path;
  if (kern_n::log_enabled(lvl_trace1)) {
    if (auto signature = reinterpret_cast<signature_fn>(
            reinterpret_cast<void*>(GetProcAddress(module_, "signature")))) {
      const char* text = signature();
      KLOG(lvl_trace1, "%s", text ? text : "");
    }
  }
}

void* dynamic_library_t::find_symbol(const char* name) const {
  if (module_ == nullptr) return nullptr;
  FARPROC symbol = GetProcAddress(module_, name);
  if (symbol == nullptr) {
    const error_saver_t saved;
    if (kern_n::log_enabled(lvl_trace1)) {
      const std::string reason = get_last_error(saved);
      KLOG(lvl_trace1, "Unable to find symbol `%s' in library `%s' because of %s", name, path_.c_str(),
           reason.c_str());
    }
    saved.restore();
    return nullptr;
  }
  return reinterpret_cast<void*>(symbol);
}

void dynamic_library_t::unload() {
  if (module_ != nullptr && !kept_ && !FreeLibrary(module_)) {
    const error_saver_t saved;
    if (kern_n::log_enabled(lvl_trace1)) {
      const std::string reason = get_last_error(saved);
      KLOG(lvl_trace1, "Unable to unload library \"%s\" because of %s", path_.c_str(), reason.c_str());
    }
    saved.restore();
  }
  module_ = nullptr;
  path_.clear();
  kept_ = false;
}

void dynamic_library_t::keep_for_process() {
  if (module_ == nullptr) return;
  HMODULE pinned = nullptr;
  // Unpinned (the system refused), the reference this object holds is kept
  // all the same: the library still stays.
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN, path_.c_str(), &pinned);
  kept_ = true;
}

void kern_n::detail::release_library_locks() noexcept {
  for (std::atomic<critical_section_t*>& slot : library_locks) delete slot.exchange(nullptr);
  global_lock.release();
}
