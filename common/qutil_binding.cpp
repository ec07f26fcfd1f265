// The process-wide binding of the NAP utility library.
#include "common/nap_common.h"
#include <memory>

#include "kern/dynamic_library.h"
#include "kern/syncers.h"

namespace napcommon {

alloc_fixup_info_fn AllocFixupInfo = nullptr;
alloc_counted_string_fn AllocCountedString = nullptr;
free_soh_fn FreeSoH = nullptr;
free_isolation_info_fn FreeIsolationInfo = nullptr;
free_soh_attribute_value_fn FreeSoHAttributeValue = nullptr;

namespace {

critical_section_t& binding_lock() {
  static auto* lock = new critical_section_t;
  return *lock;
}

dynamic_library_t* qutil = nullptr;  // kept for the life of the process once bound

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
    critsect_locker_t guard(binding_lock());
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

}  // namespace napcommon
