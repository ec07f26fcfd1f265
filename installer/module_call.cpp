// A module's registration export, called from its installed file.
#include "installer/module_call.h"

#include "base/com_apartment.h"

namespace setup_n {

export_result_t call_export(const std::wstring& path, const char* name) {
  const base_n::com_apartment_t apartment(COINIT_MULTITHREADED);
  export_result_t result;
  const HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module == nullptr) {
    result.hr = HRESULT_FROM_WIN32(GetLastError());
    return result;
  }
  result.loaded = true;
  typedef HRESULT(STDAPICALLTYPE * export_t)();
  const auto entry = reinterpret_cast<export_t>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  result.hr = entry != nullptr ? entry() : HRESULT_FROM_WIN32(GetLastError());
  FreeLibrary(module);
  return result;
}

}  // namespace setup_n
