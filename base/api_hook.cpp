// The import hook's life: install in the constructor, restore exactly once.
#include "base/api_hook.h"

#include <atomic>
#include <cstring>
#include <utility>

#include "base/module_info.h"
#include "kern/error_text.h"
#include "kern/exceptions.h"
#include "kern/logger.h"
#include "platform/import_slot.h"

namespace base_n {

api_hook_t::api_hook_t(const void* replacement, const char* module_file, const char* dll, const char* function,
                       error_policy_t policy)
    : replacement_(reinterpret_cast<uintptr_t>(replacement)), policy_(policy) {
  if (module_file != nullptr) {
    module_ = LoadLibraryA(module_file);
    loaded_ = module_ != nullptr;
  } else {
    module_ = GetModuleHandleA(nullptr);
  }
  if (module_ == nullptr) {
    const error_saver_t saved;
    std::string text = std::string("Unable to get ") + (module_file != nullptr ? module_file : "") +
                       " module because of " + get_last_error(saved);
    saved.restore();
    run_error(text);
    return;
  }
  // From here a throwing policy must not leave a loaded module behind.
  try {
    if (void** found = get_bound_thunk_data(dll, function)) {
      uintptr_t current = 0;
      std::memcpy(&current, found, sizeof(current));
      const auto target = reinterpret_cast<uintptr_t>(replacement);
      write_protected_memory(found, &target, sizeof(target));
      uintptr_t now = 0;
      std::memcpy(&now, found, sizeof(now));
      if (now == target) {
        saved_ = current;
        slot_ = found;
      }
    }
  } catch (...) {
    reset();
    throw;
  }
  if (policy_ == policy_log && kern_n::log_enabled(lvl_trace3)) {
    KLOG(lvl_trace3, "[ApiHook] %s from %s hooked in module %s", function != nullptr ? function : "",
         dll != nullptr ? dll : "", module_file_name(module_).c_str());
  }
}

api_hook_t::~api_hook_t() {
  try {
    reset();
  } catch (...) {
    // A destructor reports nothing further: the policy has already spoken.
  }
}

void api_hook_t::reset() {
  if (void** slot = std::exchange(slot_, nullptr)) {
    const uintptr_t saved = std::exchange(saved_, 0);
    std::string error;
    if (!exchange_slot(slot, replacement_, saved, error)) {
      const std::string pinned = pin_replacement_module();
      error = "Unable to restore the import slot because of " + error +
              (pinned.empty() ? std::string("; the module that holds the replacement could not be pinned")
                              : "; module " + pinned + " stays loaded for the rest of the process");
      // A throwing policy must not leave a loaded module behind either.
      if (HMODULE module = std::exchange(module_, nullptr); module != nullptr && std::exchange(loaded_, false)) {
        FreeLibrary(module);
      }
      run_error(error);
    }
  }
  if (HMODULE module = std::exchange(module_, nullptr); module != nullptr && std::exchange(loaded_, false)) {
    FreeLibrary(module);
  }
}

void** api_hook_t::get_bound_thunk_data(const char* dll, const char* function) {
  std::string error;
  void** slot = plat::find_import_slot(module_, dll, function, error);
  if (slot == nullptr) run_error(error);
  return slot;
}

bool api_hook_t::exchange_slot(void** slot, uintptr_t expected, uintptr_t desired, std::string& error) {
  DWORD previous = 0;
  if (!VirtualProtect(slot, sizeof(uintptr_t), PAGE_READWRITE, &previous)) {
    const error_saver_t saved;
    error = "unable to enable writing to protected memory because of " + get_last_error(saved);
    saved.restore();
    return false;
  }
  const bool replaced =
      std::atomic_ref<uintptr_t>(*reinterpret_cast<uintptr_t*>(slot)).compare_exchange_strong(expected, desired);
  DWORD ignored = 0;
  VirtualProtect(slot, sizeof(uintptr_t), previous, &ignored);
  if (!replaced) error = "the slot was redirected again since it was hooked";
  return replaced;
}

std::string api_hook_t::pin_replacement_module() {
  HMODULE pinned = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                          reinterpret_cast<LPCWSTR>(replacement_), &pinned)) {
    return std::string();
  }
  return module_file_name(pinned);
}

void api_hook_t::write_protected_memory(void* address, const void* data, size_t size) {
  DWORD previous = 0;
  if (!VirtualProtect(address, size, PAGE_READWRITE, &previous)) {
    const error_saver_t saved;
    std::string text = "Unable to enable writing to protected memory because of " + get_last_error(saved);
    saved.restore();
    run_error(text);
    return;
  }
  // An aligned address-sized slot is one store: a thread calling through it
  // meanwhile sees the old or the new address, never a mix.
  if (size == sizeof(uintptr_t) && reinterpret_cast<uintptr_t>(address) % alignof(uintptr_t) == 0) {
    uintptr_t value = 0;
    std::memcpy(&value, data, sizeof(value));
    std::atomic_ref<uintptr_t>(*static_cast<uintptr_t*>(address)).store(value);
  } else {
    std::memcpy(address, data, size);
  }
  DWORD ignored = 0;
  VirtualProtect(address, size, previous, &ignored);
}

void api_hook_t::run_error(const std::string& text) {
  if (policy_ == policy_throw) KERN_THROW(api_exception, "%s", text.c_str());
  if (policy_ == policy_log) KLOG(lvl_error, "[ApiHook] %s", text.c_str());
}

}  // namespace base_n
