// The registry side of the COM stand-in's activation: the module path of an
// in-process server, as registration wrote it.
#include "platform/linux/com/com_registry.h"

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/win32.h"

namespace {

constexpr DWORD max_path_bytes = 32768 * sizeof(WCHAR);

// The default value as UTF-16 text; a registry error code otherwise. A path
// fits the first buffer as a rule, which spares asking for the size first.
LSTATUS read_default_text(HKEY key, DWORD& type, std::u16string& text) {
  std::vector<BYTE> data(520 * sizeof(WCHAR));
  DWORD got = static_cast<DWORD>(data.size());
  LSTATUS status = RegQueryValueExW(key, nullptr, nullptr, &type, data.data(), &got);
  // Another process may rewrite the value between two calls: ask again.
  for (int attempt = 0; attempt < 4 && status == ERROR_MORE_DATA; ++attempt) {
    if (got > max_path_bytes) return ERROR_MORE_DATA;
    data.assign(got, 0);
    status = RegQueryValueExW(key, nullptr, nullptr, &type, data.data(), &got);
  }
  if (status != ERROR_SUCCESS) return status;
  text.assign(reinterpret_cast<const char16_t*>(data.data()), got / sizeof(WCHAR));
  while (!text.empty() && text.back() == u'\0') text.pop_back();  // the stored terminator
  return ERROR_SUCCESS;
}

}  // namespace

namespace plat_linux {

HRESULT inproc_server_path(REFCLSID clsid, std::string& path) {
  path.clear();
  OLECHAR guid[40];
  if (StringFromGUID2(clsid, guid, 40) == 0) return E_UNEXPECTED;
  const std::u16string sub_key = u"CLSID\\" + std::u16string(guid) + u"\\InprocServer32";
  HKEY opened_key = nullptr;
  const LSTATUS opened = RegOpenKeyExW(HKEY_CLASSES_ROOT, sub_key.c_str(), 0, KEY_QUERY_VALUE, &opened_key);
  if (opened == ERROR_FILE_NOT_FOUND || opened == ERROR_PATH_NOT_FOUND) return REGDB_E_CLASSNOTREG;
  if (opened != ERROR_SUCCESS) return REGDB_E_READREGDB;
  // The stand-in sits below the core library and its key owner: the
  // standard one closes the key.
  const std::unique_ptr<std::remove_pointer_t<HKEY>, decltype(&RegCloseKey)> key(opened_key, &RegCloseKey);

  DWORD type = REG_NONE;
  std::u16string text;
  const LSTATUS read = read_default_text(key.get(), type, text);
  if (read == ERROR_FILE_NOT_FOUND) return REGDB_E_CLASSNOTREG;
  if (read != ERROR_SUCCESS) return REGDB_E_READREGDB;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return REGDB_E_READREGDB;
  if (text.empty()) return REGDB_E_CLASSNOTREG;

  const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                    nullptr, nullptr);
  if (n <= 0) return REGDB_E_READREGDB;
  std::string narrow(static_cast<size_t>(n), '\0');
  if (WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), narrow.data(), n, nullptr,
                          nullptr) != n) {
    return REGDB_E_READREGDB;
  }
  path = std::move(narrow);
  return S_OK;
}

}  // namespace plat_linux
