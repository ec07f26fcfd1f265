// Changes the test store refuses while the object lives, so that one value of
// a set can fail while the others are stored.
//
// On Linux the refusals are marks in the stand-in's store file ($SHV_REGISTRY,
// see platform/linux/registry/registry_store.h), seen by every process and
// module that uses it. Windows keeps rights per key, not per value: there the
// test program's own imports of the registry's calls refuse them, so only the
// code linked into the program meets the refusals.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/win32.h"

#ifdef _WIN32
#include <memory>

#include "base/api_hook.h"
#else
#include "platform/linux/registry/registry_store.h"
#endif

namespace test_support {

#ifdef _WIN32

namespace refusals_detail {

inline std::vector<std::wstring>& refused_sets() {
  static std::vector<std::wstring> names;
  return names;
}
inline std::vector<std::wstring>& refused_removals() {
  static std::vector<std::wstring> names;
  return names;
}
inline bool listed(const std::vector<std::wstring>& names, LPCWSTR name) {
  for (const std::wstring& n : names) {
    if (name != nullptr && lstrcmpiW(n.c_str(), name) == 0) return true;
  }
  return false;
}
template <class F>
F system_call(const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"advapi32.dll"), name)));
}

inline LSTATUS WINAPI set_value(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
  if (listed(refused_sets(), name)) return ERROR_ACCESS_DENIED;
  return system_call<decltype(&RegSetValueExW)>("RegSetValueExW")(key, name, reserved, type, data, size);
}
inline LSTATUS WINAPI delete_value(HKEY key, LPCWSTR name) {
  if (listed(refused_removals(), name)) return ERROR_ACCESS_DENIED;
  return system_call<decltype(&RegDeleteValueW)>("RegDeleteValueW")(key, name);
}
// A key is refused when it holds a refused value itself (its sub-keys are
// not looked into).
inline LSTATUS WINAPI delete_tree(HKEY key, LPCWSTR sub_key) {
  HKEY target = nullptr;
  if (RegOpenKeyExW(key, sub_key, 0, KEY_QUERY_VALUE, &target) == ERROR_SUCCESS) {
    bool refused = false;
    for (const std::wstring& name : refused_removals()) {
      refused |= RegQueryValueExW(target, name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    }
    RegCloseKey(target);
    if (refused) return ERROR_ACCESS_DENIED;
  }
  return system_call<decltype(&RegDeleteTreeW)>("RegDeleteTreeW")(key, sub_key);
}

}  // namespace refusals_detail

class store_refusals_t {
 public:
  store_refusals_t() {
    using namespace refusals_detail;
    for (const auto& [replacement, function] :
         {std::pair<const void*, const char*>{reinterpret_cast<const void*>(&set_value), "RegSetValueExW"},
          {reinterpret_cast<const void*>(&delete_value), "RegDeleteValueW"},
          {reinterpret_cast<const void*>(&delete_tree), "RegDeleteTreeW"}}) {
      hooks_.push_back(std::make_unique<base_n::api_hook_t>(replacement, nullptr, "advapi32.dll", function,
                                                            base_n::api_hook_t::policy_throw));
    }
  }
  ~store_refusals_t() {
    hooks_.clear();
    refusals_detail::refused_sets().clear();
    refusals_detail::refused_removals().clear();
  }
  store_refusals_t(const store_refusals_t&) = delete;
  store_refusals_t& operator=(const store_refusals_t&) = delete;

  // Every later setting of a value of that name fails with ERROR_ACCESS_DENIED.
  void refuse_set(const char16_t* name) { refusals_detail::refused_sets().push_back(plat::wstr(name)); }
  // Every later removal of a value of that name, alone or with its key,
  // fails likewise.
  void refuse_remove(const char16_t* name) { refusals_detail::refused_removals().push_back(plat::wstr(name)); }

 private:
  std::vector<std::unique_ptr<base_n::api_hook_t>> hooks_;
};

#else

class store_refusals_t {
 public:
  store_refusals_t() = default;
  ~store_refusals_t() {
    try {
      plat_linux::reg::lift_test_refusals(plat_linux::reg::current_store_path());
    } catch (...) {
    }
  }
  store_refusals_t(const store_refusals_t&) = delete;
  store_refusals_t& operator=(const store_refusals_t&) = delete;

  // Every later setting of a value of that name fails with ERROR_ACCESS_DENIED.
  void refuse_set(const char16_t* name) { refuse(plat_linux::reg::store_t::refusal_t::set, name); }
  // Every later removal of a value of that name, alone or with its key,
  // fails likewise.
  void refuse_remove(const char16_t* name) { refuse(plat_linux::reg::store_t::refusal_t::remove, name); }

 private:
  static void refuse(plat_linux::reg::store_t::refusal_t what, const char16_t* name) {
    plat_linux::reg::refuse_for_tests(plat_linux::reg::current_store_path(), what, name);
  }
};

#endif

}  // namespace test_support
