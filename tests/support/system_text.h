// The system's message for an error code as the error-text helpers show it
// (without the closing full stop and line end). Windows and Wine word their
// messages differently; the Linux stand-in carries the Windows wording, given
// here as the expectation.
#pragma once

#include <string>

#include "platform/win32.h"

namespace test_support {

inline std::string system_text(DWORD code, const char* windows_wording) {
#ifdef _WIN32
  (void)windows_wording;
  char* buffer = nullptr;
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
  std::string text(buffer != nullptr ? buffer : "", n);
  LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                           text.back() == '.')) {
    text.pop_back();
  }
  return text;
#else
  (void)code;
  return windows_wording;
#endif
}

}  // namespace test_support
