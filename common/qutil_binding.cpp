// The process-wide binding of the NAP utility library.
#include "common/nap_common.h"
#include <memory>

#include "kern/dynamic_library.h"
#include "kern/lazy.h"
#include "kern/syncers.h"

namespace napcommon {

alloc_fixup_info_fn AllocFixupInfo = nullptr;
alloc_counted_string_fn AllocCountedString = nullptr;
free_soh_fn FreeSoH = nullptr;
free_isolation_info_fn FreeIsolationInfo = nullptr;
free_soh_attribute_value_fn FreeSoHAttributeValue = nullptr;

namespace {

// Made by the first bind (the entry point's, before the module's other static
// objects are built), given back at unload with the binding.
kern_n::lazy_t<critical_section_t> binding_lock;

// Bound once per load of the module. The library itself stays with the
// process once bound (pinned): an unload could give it back only from the
// entry point, under the loader lock, where freeing a library is unsafe; it is
// a system library of the NAP server's process, whose loads of it change
// nothing once it is pinned.
dynamic_library_t* qutil = nullptr;

template <class F>
bool bind(const dynamic_library_t& library, const char* name, F& out) {
  out = library.find_function<F>(name);
  return out != nullptr;
}

void clear_pointers() {
  AllocFixupInfo = nullptr;
  AllocCountedString = nullptr;
  FreeSoH = nullptr;
  FreeIsolationInfo = nullptr;
  FreeSoHAttributeValue = nullptr;
}

}  // namespace

bool bind_qutil() {
  try {
    critsect_locker_t guard(binding_lock.get());
    if (qutil != nullptr) return true;
    try {
      std::unique_ptr<dynamic_library_t> library(new dynamic_library_t);
      library->init("Qutil.dll");
      if (!bind(*library, "AllocFixupInfo", AllocFixupInfo) ||
          !bind(*library, "AllocCountedString", AllocCountedString) || !bind(*library, "FreeSoH", FreeSoH) ||
          !bind(*library, "FreeIsolationInfo", FreeIsolationInfo) ||
          !bind(*library, "FreeSoHAttributeValue", FreeSoHAttributeValue)) {
        clear_pointers();  // no pointer may outlive the library it points into
        return false;
      }
      library->keep_for_process();
      qutil = library.release();
      return true;
    } catch (...) {
      clear_pointers();  // still under the lock
      return false;
    }
  } catch (...) {
    return false;  // the lock could not be had
  }
}

namespace detail {

void unbind_qutil() noexcept {
  clear_pointers();
  delete qutil;  // lets go of the handle; the library stays loaded
  qutil = nullptr;
  binding_lock.release();
}

}  // namespace detail

}  // namespace napcommon
