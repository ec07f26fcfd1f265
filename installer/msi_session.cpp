// The installer's properties and messages for the package's custom actions.
#include "installer/msi_session.h"

#include <cstdarg>
#include <cwchar>

namespace setup_n {

namespace {

// The text is a field, never the record's template, so that brackets in a
// path are not taken for properties.
void message(MSIHANDLE install, INSTALLMESSAGE kind, const std::wstring& text) {
  const MSIHANDLE record = MsiCreateRecord(1);
  if (record == 0) return;
  MsiRecordSetStringW(record, 0, L"[1]");
  MsiRecordSetStringW(record, 1, text.c_str());
  MsiProcessMessage(install, kind, record);
  MsiCloseHandle(record);
}

}  // namespace

std::wstring property(MSIHANDLE install, const wchar_t* name) {
  wchar_t empty[1] = L"";
  DWORD size = 0;
  if (MsiGetPropertyW(install, name, empty, &size) != ERROR_MORE_DATA) return {};
  std::wstring value(size + 1, L'\0');
  size += 1;
  if (MsiGetPropertyW(install, name, value.data(), &size) != ERROR_SUCCESS) return {};
  value.resize(size);
  return value;
}

std::vector<std::wstring> fields(const std::wstring& data) {
  std::vector<std::wstring> out;
  std::size_t from = 0;
  for (std::size_t bar; (bar = data.find(L'|', from)) != std::wstring::npos; from = bar + 1) {
    out.push_back(data.substr(from, bar - from));
  }
  out.push_back(data.substr(from));
  return out;
}

std::wstring text_format(const wchar_t* format, ...) {
  std::wstring text(256, L'\0');
  for (;;) {
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vswprintf(text.data(), text.size(), format, arguments);
    va_end(arguments);
    if (length >= 0 && static_cast<std::size_t>(length) < text.size()) {
      text.resize(static_cast<std::size_t>(length));
      return text;
    }
    text.resize(text.size() * 2);
  }
}

void log_line(MSIHANDLE install, const std::wstring& text) { message(install, INSTALLMESSAGE_INFO, text); }

void error_message(MSIHANDLE install, const std::wstring& text) {
  message(install, static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONERROR), text);
}

}  // namespace setup_n
