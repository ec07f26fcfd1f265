// Counted strings, the registration record and check_res.
#include "common/nap_common.h"

#include <cstdio>

#include "kern/error_text.h"

namespace napcommon {

namespace {
bool is_empty(const CountedString& cs) { return cs.length == 0 && cs.string == nullptr; }
}  // namespace

HRESULT FillCountedString(const WCHAR* text, CountedString* out) {
  if (text == nullptr || out == nullptr) return E_POINTER;
  if (!is_empty(*out)) return E_INVALIDARG;
  alloc_counted_string_fn alloc = AllocCountedString;
  if (alloc == nullptr) return E_UNEXPECTED;  // the utility library is not bound
  CountedString* fresh = nullptr;
  const HRESULT hr = alloc(&fresh, text);
  if (FAILED(hr)) return hr;
  if (fresh == nullptr) return E_UNEXPECTED;
  out->length = fresh->length;
  out->string = fresh->string;
  CoTaskMemFree(fresh);  // the characters now belong to out
  return S_OK;
}

HRESULT EmptyCountedString(CountedString* cs) {
  if (cs == nullptr) return E_POINTER;
  CoTaskMemFree(cs->string);
  cs->string = nullptr;
  cs->length = 0;
  return S_OK;
}

nap_reginfo_t::nap_reginfo_t() : NapComponentRegistrationInfo{} {}

nap_reginfo_t::~nap_reginfo_t() {
  EmptyCountedString(&friendlyName);
  EmptyCountedString(&description);
  EmptyCountedString(&version);
  EmptyCountedString(&vendorName);
}

void check_res(HRESULT hr, const char* what) {
  if (hr >= 0) return;
  SetLastError(static_cast<DWORD>(hr));
  std::string system_text;
  {
    const error_saver_t saved;
    system_text = format_system_error(static_cast<uint32_t>(hr));
    saved.restore();
  }
  char code[16];
  std::snprintf(code, sizeof(code), "%08X", static_cast<unsigned>(hr));
  std::string message = what != nullptr ? what : "";
  message += " because of error ";
  message += code;
  message += " (";
  message += system_text;
  message += ")";
  throw com_error_t(std::move(message), hr);
}

}  // namespace napcommon
