// healthval's module handle and lock count.
#include "shv/module_state.h"

#include "base/module_info.h"

namespace shv {

namespace {
std::atomic<HMODULE> recorded{nullptr};
std::atomic<int32_t> locks{0};
}  // namespace

HMODULE module_handle() {
  if (HMODULE m = recorded.load()) return m;
  return base_n::module_of_address(reinterpret_cast<const void*>(&module_handle));
}

void set_module_handle(HMODULE module) { recorded.store(module); }

void module_lock() { locks.fetch_add(1); }
void module_unlock() { locks.fetch_sub(1); }
int32_t module_lock_count() { return locks.load(); }

}  // namespace shv
