// The package's first look at the machine (an immediate action, before the
// installation script changes anything): which file the validator's COM class
// names. Another copy that exists (registered by hand from the zip) refuses
// the installation; none, or one whose file is gone, leaves a NAP record that
// the registration takes over; ours (this product's or an older version's)
// keeps whatever the NAP server knows.
#include <string>

#include "installer/msi_session.h"

namespace setup_n {
namespace {

// The COM class's server file as registered (expanded when it is a
// REG_EXPAND_SZ), quotes removed; empty when the class or its server key is
// missing.
std::wstring registered_server(const std::wstring& key) {
  DWORD size = 0;
  if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, nullptr,
                   &size) != ERROR_SUCCESS) {
    return {};
  }
  std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
  if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr,
                   value.data(), &size) != ERROR_SUCCESS) {
    return {};
  }
  value.resize(wcsnlen(value.c_str(), value.size()));
  if (value.size() >= 2 && value.front() == L'"' && value.back() == L'"') value = value.substr(1, value.size() - 2);
  return value;
}

// The path in its full, long form, for comparing two spellings of one file.
std::wstring canonical(const std::wstring& path) {
  wchar_t full[MAX_PATH * 4];
  const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH * 4, full, nullptr);
  if (length == 0 || length >= MAX_PATH * 4) return path;
  wchar_t long_form[MAX_PATH * 4];
  const DWORD long_length = GetLongPathNameW(full, long_form, MAX_PATH * 4);
  return long_length > 0 && long_length < MAX_PATH * 4 ? long_form : full;
}

bool same_file(const std::wstring& a, const std::wstring& b) {
  if (a.empty() || b.empty()) return false;
  const std::wstring x = canonical(a), y = canonical(b);
  return CompareStringOrdinal(x.c_str(), static_cast<int>(x.size()), y.c_str(), static_cast<int>(y.size()), TRUE) ==
         CSTR_EQUAL;
}

bool file_missing(const std::wstring& path) {
  if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME;
}

// Where a product of this package (an older version about to be replaced)
// has the validator's component; empty when none has it.
std::wstring installed_component(const std::wstring& component) {
  wchar_t path[MAX_PATH * 4];
  DWORD size = MAX_PATH * 4;
  const INSTALLSTATE state = MsiLocateComponentW(component.c_str(), path, &size);
  return state == INSTALLSTATE_LOCAL ? path : std::wstring();
}

}  // namespace
}  // namespace setup_n

// Data (property check_validator): the module's target path | the registry key
// below HKEY_CLASSES_ROOT naming the class's server | the module's component
// id. Sets the data of register_validator: keep|path or take_over|path.
extern "C" UINT __stdcall check_validator(MSIHANDLE install) {
  using namespace setup_n;
  const std::vector<std::wstring> data = fields(property(install, L"check_validator"));
  if (data.size() != 3) {
    error_message(install, L"Vexor SHV: the package's check of the validator got no data");
    return ERROR_INSTALL_FAILURE;
  }
  const std::wstring& ours = data[0];
  const std::wstring registered = registered_server(data[1]);
  const wchar_t* mode = L"take_over";
  if (registered.empty()) {
    log_line(install, L"Vexor SHV: the validator's COM class is not registered; a NAP record left of it is taken "
                      L"over");
  } else if (same_file(registered, ours) || same_file(registered, installed_component(data[2]))) {
    mode = L"keep";
    log_line(install, text_format(L"Vexor SHV: the validator is registered from %ls, which this package installs "
                                  L"or replaces",
                                  registered.c_str()));
  } else if (file_missing(registered)) {
    log_line(install, text_format(L"Vexor SHV: the validator's COM class names %ls, which does not exist; its "
                                  L"NAP record is taken over",
                                  registered.c_str()));
  } else {
    error_message(install, text_format(L"Vexor SHV: the validator is already registered from %ls, which this "
                                       L"package did not install. Unregister that copy first "
                                       L"(regsvr32 /u \"%ls\"), then install the package again.",
                                       registered.c_str(), registered.c_str()));
    return ERROR_INSTALL_FAILURE;
  }
  MsiSetPropertyW(install, L"register_validator", (std::wstring(mode) + L"|" + ours).c_str());
  return ERROR_SUCCESS;
}
