// Module facts over the platform loader.
#include "base/module_info.h"

namespace base_n {

HMODULE module_of_address(const void* address) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<LPCSTR>(address), &module)) {
    return nullptr;
  }
  return module;
}

std::string module_file_name(HMODULE module) {
  char buffer[4096];
  const DWORD n = GetModuleFileNameA(module, buffer, sizeof(buffer));
  if (n == 0 || n >= sizeof(buffer)) return std::string();
  return std::string(buffer, n);
}

}  // namespace base_n
