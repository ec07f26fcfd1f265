// Running a parsed registry script against the registry.
#include "base/registry_script.h"

#include "kern/exceptions.h"
#include "kern/logger.h"
#include "kern/regkey.h"
#include "platform/com.h"

namespace base_n {

namespace {

constexpr REGSAM script_access = KEY_READ | KEY_WRITE;

LSTATUS delete_tree_if_present(HKEY parent, const std::u16string& name) {
  const LSTATUS rc = RegDeleteTreeW(parent, plat::wstr(name.c_str()));
  return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

LSTATUS set_value(HKEY key, const rgs_value_t& value) {
  return RegSetValueExW(key, value.name.empty() ? nullptr : plat::wstr(value.name.c_str()), 0, value.type,
                        value.data.data(), static_cast<DWORD>(value.data.size()));
}

LSTATUS register_key(HKEY parent, const rgs_key_t& key) {
  if (key.mode == rgs_key_t::mode_t::remove) return delete_tree_if_present(parent, key.name);
  if (key.mode == rgs_key_t::mode_t::force_remove) {
    if (const LSTATUS rc = delete_tree_if_present(parent, key.name)) return rc;
  }
  win::regkey_t handle;
  if (const LSTATUS rc = RegCreateKeyExW(parent, plat::wstr(key.name.c_str()), 0, nullptr, 0, script_access, nullptr,
                                         handle.put(), nullptr)) {
    return rc;
  }
  if (key.default_value) {
    if (const LSTATUS rc = set_value(handle.get(), *key.default_value)) return rc;
  }
  for (const rgs_value_t& value : key.values) {
    if (const LSTATUS rc = set_value(handle.get(), value)) return rc;
  }
  for (const rgs_key_t& sub : key.subkeys) {
    if (const LSTATUS rc = register_key(handle.get(), sub)) return rc;
  }
  return ERROR_SUCCESS;
}

LSTATUS unregister_key(HKEY parent, const rgs_key_t& key) {
  if (key.mode == rgs_key_t::mode_t::remove) return ERROR_SUCCESS;
  if (key.mode != rgs_key_t::mode_t::no_remove) return delete_tree_if_present(parent, key.name);
  win::regkey_t handle;
  const LSTATUS rc = RegOpenKeyExW(parent, plat::wstr(key.name.c_str()), 0, script_access, handle.put());
  if (rc == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;  // nothing of ours below it
  if (rc != ERROR_SUCCESS) return rc;
  for (const rgs_key_t& sub : key.subkeys) {
    if (const LSTATUS sub_rc = unregister_key(handle.get(), sub)) return sub_rc;
  }
  return ERROR_SUCCESS;
}

}  // namespace

HRESULT run_registry_script(const std::string& text, const rgs_replacements_t& replacements, bool do_register) {
  std::vector<rgs_root_t> roots;
  try {
    roots = parse_registry_script(text, replacements);
  } catch (const d_exception_t_shell_t& e) {
    KLOG(lvl_error, "[registry script] %s", e.what());
    return DISP_E_EXCEPTION;
  }
  for (const rgs_root_t& root : roots) {
    for (const rgs_key_t& key : root.keys) {
      const LSTATUS rc = do_register ? register_key(root.root, key) : unregister_key(root.root, key);
      if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
    }
  }
  return S_OK;
}

}  // namespace base_n
