// The validator's registration with the NAP server and its withdrawal, run by
// the installation script from the installed file (deferred, as the system);
// the module's HRESULT goes to the installer's log.
//
// The registration is the script's last operation: when it succeeds nothing
// after it can fail, and when it fails it has added no NAP record, so it has
// no rollback action (one could not tell a record it made from one that was
// there before). The withdrawal's rollback registers the module again.

#include <string>

#include "installer/module_call.h"
#include "installer/msi_session.h"
#include "installer/nap_record.h"

namespace setup_n {
namespace {

// The NAP server does not know the validator, or its management class is
// gone with the role: there is nothing left to withdraw, and the Registry
// table removes the COM keys all the same.
bool nothing_to_withdraw(HRESULT hr) { return hr == NAP_E_NOT_REGISTERED || hr == REGDB_E_CLASSNOTREG; }

unsigned code(HRESULT hr) { return static_cast<unsigned>(hr); }


UINT log_rollback(MSIHANDLE install, const wchar_t* name, const std::wstring& path, HRESULT hr) {
  log_line(install, SUCCEEDED(hr) ? text_format(L"Vexor SHV: rolling back, %ls of %ls succeeded", name, path.c_str())
                                  : text_format(L"Vexor SHV: rolling back, %ls of %ls returned 0x%08X", name,
                                                path.c_str(), code(hr)));
  return ERROR_SUCCESS;
}

UINT fail(MSIHANDLE install, const wchar_t* name, const std::wstring& path, HRESULT hr) {
  error_message(install, text_format(L"Vexor SHV: %ls of %ls failed with 0x%08X", name, path.c_str(), code(hr)));
  return ERROR_INSTALL_FAILURE;
}

// The NAP server keeps a record of the validator that no existing module
// backs: withdrawn, then this module registers its own.
UINT take_over(MSIHANDLE install, const std::wstring& path) {
  log_line(install, L"Vexor SHV: the NAP server keeps a record of the validator whose module is gone; withdrawing "
                    L"it and registering this package's module");
  const HRESULT withdrawn = withdraw_nap_record();
  if (FAILED(withdrawn)) {
    error_message(install, text_format(L"Vexor SHV: withdrawing the NAP server's old record of the validator "
                                       L"failed with 0x%08X",
                                       code(withdrawn)));
    return ERROR_INSTALL_FAILURE;
  }
  const export_result_t again = call_export(path, "DllRegisterServer");
  if (FAILED(again.hr)) return fail(install, L"DllRegisterServer", path, again.hr);
  log_line(install, text_format(L"Vexor SHV: took over the NAP server's record of the validator: "
                                L"DllRegisterServer of %ls succeeded",
                                path.c_str()));
  return ERROR_SUCCESS;
}

}  // namespace
}  // namespace setup_n

// Data: keep|path (the class names our file: a repair, an upgrade) or
// take_over|path (no class, or one whose file is gone). Either way "already
// registered" is not a failure: kept as it is for ours, taken over otherwise.
extern "C" UINT __stdcall register_validator(MSIHANDLE install) {
  using namespace setup_n;
  const std::vector<std::wstring> data = fields(property(install, L"CustomActionData"));
  const std::wstring path = data.size() == 2 ? data[1] : std::wstring();
  const HRESULT hr = path.empty() ? E_INVALIDARG : call_export(path, "DllRegisterServer").hr;
  if (MsiGetMode(install, MSIRUNMODE_ROLLBACK)) return log_rollback(install, L"DllRegisterServer", path, hr);
  if (SUCCEEDED(hr)) {
    log_line(install, text_format(L"Vexor SHV: DllRegisterServer of %ls succeeded", path.c_str()));
    return ERROR_SUCCESS;
  }
  if (hr != NAP_E_CONFLICTING_ID) return fail(install, L"DllRegisterServer", path, hr);
  if (data[0] != L"keep") return take_over(install, path);
  log_line(install, text_format(L"Vexor SHV: DllRegisterServer of %ls returned 0x%08X: the NAP server already "
                                L"knows the validator, which stays registered as it is",
                                path.c_str(), code(hr)));
  return ERROR_SUCCESS;
}

// Data: path|[SHV_IGNORE_UNREGISTER_FAILURE]. A module that cannot be loaded
// (gone, damaged, quarantined) cannot withdraw anything: the removal goes on,
// and the next installation takes the NAP record over. Any other failure
// stops the removal, unless the administrator said to go on.
extern "C" UINT __stdcall unregister_validator(MSIHANDLE install) {
  using namespace setup_n;
  const std::vector<std::wstring> data = fields(property(install, L"CustomActionData"));
  const std::wstring& path = data[0];
  const export_result_t result = path.empty() ? export_result_t{true, E_INVALIDARG}
                                              : call_export(path, "DllUnregisterServer");
  if (SUCCEEDED(result.hr)) {
    log_line(install, text_format(L"Vexor SHV: DllUnregisterServer of %ls succeeded", path.c_str()));
    return ERROR_SUCCESS;
  }
  if (!result.loaded) {
    log_line(install, text_format(L"Vexor SHV: %ls cannot be loaded (0x%08X); the NAP server's record of the "
                                  L"validator may remain, and the next installation of the package takes it over",
                                  path.c_str(), code(result.hr)));
    return ERROR_SUCCESS;
  }
  if (nothing_to_withdraw(result.hr)) {
    log_line(install, text_format(L"Vexor SHV: DllUnregisterServer of %ls returned 0x%08X; the NAP server has no "
                                  L"registration to withdraw",
                                  path.c_str(), code(result.hr)));
    return ERROR_SUCCESS;
  }
  if (data.size() == 2 && data[1] == L"1") {
    log_line(install, text_format(L"Vexor SHV: DllUnregisterServer of %ls failed with 0x%08X; "
                                  L"SHV_IGNORE_UNREGISTER_FAILURE=1, so the removal goes on and the NAP server's "
                                  L"record of the validator may remain",
                                  path.c_str(), code(result.hr)));
    return ERROR_SUCCESS;
  }
  error_message(install, text_format(L"Vexor SHV: DllUnregisterServer of %ls failed with 0x%08X; the removal "
                                     L"stops. To remove the package all the same: msiexec /x %ls "
                                     L"SHV_IGNORE_UNREGISTER_FAILURE=1",
                                     path.c_str(), code(result.hr), property(install, L"ProductCode").c_str()));
  return ERROR_INSTALL_FAILURE;
}
