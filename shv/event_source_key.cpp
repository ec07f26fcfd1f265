// Writing and removing the event source's key.
#include "shv/event_source_key.h"

#include "kern/regkey.h"
#include "platform/win32.h"
#include "shv/event_log.h"

namespace shv {

namespace {

HRESULT from_status(LSTATUS rc) {
  return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
}

}  // namespace

HRESULT register_event_source(const std::u16string& module_path) {
  win::regkey_t key;
  LSTATUS rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, plat::wstr(events::source_key), 0, nullptr, 0, KEY_SET_VALUE,
                               nullptr, key.put(), nullptr);
  if (rc != ERROR_SUCCESS) return from_status(rc);
  rc = RegSetValueExW(key.get(), plat::wstr(u"EventMessageFile"), 0, REG_EXPAND_SZ,
                      reinterpret_cast<const BYTE*>(module_path.c_str()),
                      static_cast<DWORD>((module_path.size() + 1) * sizeof(char16_t)));
  if (rc != ERROR_SUCCESS) return from_status(rc);
  const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
  return from_status(RegSetValueExW(key.get(), plat::wstr(u"TypesSupported"), 0, REG_DWORD,
                                    reinterpret_cast<const BYTE*>(&types), sizeof(types)));
}

HRESULT unregister_event_source() {
  const LSTATUS rc = RegDeleteTreeW(HKEY_LOCAL_MACHINE, plat::wstr(events::source_key));
  return rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND ? S_OK : from_status(rc);
}

}  // namespace shv
