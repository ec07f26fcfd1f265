// Module facts over the platform loader. Paths are taken wide: a folder name
// outside the system code page must not come back mangled.
#include "base/module_info.h"

#include "kern/unicode.h"

namespace base_n {

namespace {
// The longest path the system's module calls give.
constexpr DWORD max_path_units = 32768;
}  // namespace

HMODULE module_of_address(const void* address) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<LPCSTR>(address), &module)) {
    return nullptr;
  }
  return module;
}

std::u16string module_path(HMODULE module) {
  std::u16string buffer(260, u'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(module, plat::wstr(buffer.data()), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::u16string();
    // A cut name fills the buffer: try again with more room.
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    if (buffer.size() >= max_path_units) return std::u16string();
    buffer.assign(buffer.size() * 2, u'\0');
  }
}

std::string module_file_name(HMODULE module) {
  try {
    std::string out;
    from_unicode_to_cp(out, module_path(module), CP_UTF8);
    return out;
  } catch (...) {
    return std::string();
  }
}

}  // namespace base_n
