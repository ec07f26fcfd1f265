// The package's custom actions (shvsetup.dll, Windows only): the validator's
// own registration and unregistration, called from the installed file in the
// deferred phase, with the module's HRESULT in the installer's log. The
// installer carries the module's COM keys in its Registry table; what only
// the module can do is register itself with the NAP server.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <objbase.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "base/com_apartment.h"

namespace {

// The NAP server does not know the validator (nothing to withdraw).
constexpr HRESULT nap_not_registered = static_cast<HRESULT>(0x80270006u);

// The path the installer passed to this deferred action.
std::wstring custom_action_data(MSIHANDLE install) {
  wchar_t empty[1] = L"";
  DWORD size = 0;
  if (MsiGetPropertyW(install, L"CustomActionData", empty, &size) != ERROR_MORE_DATA) return {};
  std::wstring value(size + 1, L'\0');
  size += 1;
  if (MsiGetPropertyW(install, L"CustomActionData", value.data(), &size) != ERROR_SUCCESS) return {};
  value.resize(size);
  return value;
}

// One message to the installer: a line of its log, and for an error also
// what its user interface shows. The text is a field, never the template,
// so that brackets in a path are not taken for properties.
void report(MSIHANDLE install, INSTALLMESSAGE kind, const std::wstring& text) {
  const MSIHANDLE record = MsiCreateRecord(1);
  if (record == 0) return;
  MsiRecordSetStringW(record, 0, L"[1]");
  MsiRecordSetStringW(record, 1, text.c_str());
  MsiProcessMessage(install, kind, record);
  MsiCloseHandle(record);
}

// Loads the module at path and calls one of its registration exports; the
// loader's failure comes back as an HRESULT too.
HRESULT call_export(const std::wstring& path, const char* name) {
  // As the NAP server's process has it.
  const base_n::com_apartment_t apartment(COINIT_MULTITHREADED);
  const HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module == nullptr) return HRESULT_FROM_WIN32(GetLastError());
  typedef HRESULT(STDAPICALLTYPE * export_t)();
  const auto entry = reinterpret_cast<export_t>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  const HRESULT hr = entry != nullptr ? entry() : HRESULT_FROM_WIN32(GetLastError());
  FreeLibrary(module);
  return hr;
}

std::wstring hex(HRESULT hr) {
  wchar_t text[16];
  std::swprintf(text, sizeof text / sizeof text[0], L"0x%08X", static_cast<unsigned>(hr));
  return text;
}

// Runs the export on the module named by the action's data and reports its
// result. A failure fails the action, unless tolerated says it leaves
// nothing to undo. While the installer rolls back, a failure is only
// logged: the rollback goes on whatever happens here.
UINT run(MSIHANDLE install, const char* name, bool (*tolerated)(HRESULT)) {
  const std::wstring path = custom_action_data(install);
  const std::wstring call = std::wstring(name, name + std::strlen(name)) + L" of " + path;
  const HRESULT hr = path.empty() ? E_INVALIDARG : call_export(path, name);
  if (SUCCEEDED(hr)) {
    report(install, INSTALLMESSAGE_INFO, L"Vexor SHV: " + call + L" succeeded");
    return ERROR_SUCCESS;
  }
  if (MsiGetMode(install, MSIRUNMODE_ROLLBACK)) {
    report(install, INSTALLMESSAGE_INFO, L"Vexor SHV: rolling back, " + call + L" returned " + hex(hr));
    return ERROR_SUCCESS;
  }
  if (tolerated(hr)) {
    report(install, INSTALLMESSAGE_INFO,
           L"Vexor SHV: " + call + L" returned " + hex(hr) + L"; the NAP server has no registration to withdraw");
    return ERROR_SUCCESS;
  }
  report(install, static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONERROR),
         L"Vexor SHV: " + call + L" failed with " + hex(hr));
  return ERROR_INSTALL_FAILURE;
}

bool nothing_tolerated(HRESULT) { return false; }

// The NAP server does not know the validator, or its management class is
// gone with the role: there is nothing left to withdraw, and the Registry
// table removes the COM keys all the same.
bool nothing_to_withdraw(HRESULT hr) { return hr == nap_not_registered || hr == REGDB_E_CLASSNOTREG; }

}  // namespace

extern "C" UINT __stdcall register_validator(MSIHANDLE install) {
  return run(install, "DllRegisterServer", nothing_tolerated);
}

extern "C" UINT __stdcall unregister_validator(MSIHANDLE install) {
  return run(install, "DllUnregisterServer", nothing_to_withdraw);
}
