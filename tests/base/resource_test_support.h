// Helpers of the resource tests: a loaded module, a thread locale for one
// scope, and the bytes of a found resource.
#pragma once

#include <string>
#include <vector>

#include "base/resources.h"

namespace test_support {

class module_t {
 public:
  explicit module_t(const char* name) : module_(LoadLibraryA(name)) {}
  ~module_t() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  module_t(const module_t&) = delete;
  module_t& operator=(const module_t&) = delete;
  HMODULE get() const { return module_; }

 private:
  HMODULE module_;
};

class thread_locale_t {
 public:
  explicit thread_locale_t(LCID lcid) : saved_(GetThreadLocale()) { SetThreadLocale(lcid); }
  ~thread_locale_t() { SetThreadLocale(saved_); }
  thread_locale_t(const thread_locale_t&) = delete;
  thread_locale_t& operator=(const thread_locale_t&) = delete;

 private:
  LCID saved_;
};

inline std::vector<unsigned char> resource_bytes(HMODULE module, HRSRC resource) {
  HGLOBAL loaded = LoadResource(module, resource);
  const auto* p = static_cast<const unsigned char*>(LockResource(loaded));
  if (p == nullptr) return {};
  return std::vector<unsigned char>(p, p + SizeofResource(module, resource));
}

inline HRSRC find_id(HMODULE module, WORD name, WORD type) {
  return base_n::find_resource<char>(module, MAKEINTRESOURCEA(name), MAKEINTRESOURCEA(type));
}

inline std::u16string load_text(UINT id, HMODULE module) {
  return base_n::load_string_resource(id, module, u"<default>");
}

}  // namespace test_support
