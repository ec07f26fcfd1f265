// Rendering of errno and Win32 error values as text.
#include "kern/error_text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/win32.h"

error_saver_t::error_saver_t() : errno_(errno), win32_(static_cast<uint32_t>(GetLastError())) {}

void error_saver_t::restore() const {
  errno = errno_;
  SetLastError(static_cast<DWORD>(win32_));
}

void format_system_error(uint32_t code, char* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return;
  char* message = nullptr;
  const DWORD flags =
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  DWORD first_error = 0;
  DWORD second_error = 0;
  DWORD length = FormatMessageA(flags, nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                reinterpret_cast<LPSTR>(&message), 0, nullptr);
  if (length == 0) {
    first_error = GetLastError();
    if (first_error == ERROR_RESOURCE_LANG_NOT_FOUND) {
      length = FormatMessageA(flags, nullptr, code, 0, reinterpret_cast<LPSTR>(&message), 0, nullptr);
      if (length == 0) second_error = GetLastError();
    }
  }
  if (length != 0 && message != nullptr) {
    if (size > static_cast<size_t>(length) + 32) {
      size_t n = length >= 2 ? length - 2 : 0;  // the trailing line end
      if (n > 1 && message[n - 1] == '.') --n;
      std::snprintf(buffer, size, "%.*s (code=%u)", static_cast<int>(n), message,
                    static_cast<unsigned>(code));
    } else {
      const size_t n = static_cast<size_t>(length) < size - 1 ? length : size - 1;
      std::memcpy(buffer, message, n);
      buffer[n] = '\0';
    }
    LocalFree(message);
    return;
  }
  std::snprintf(buffer, size, "Error %u 0x%08x (get message errors %u %u)",
                static_cast<unsigned>(code), static_cast<unsigned>(code),
                static_cast<unsigned>(first_error), static_cast<unsigned>(second_error));
}

std::string format_system_error(uint32_t code) {
  char buffer[512];
  format_system_error(code, buffer, sizeof(buffer));
  return buffer;
}

std::string get_last_error(const error_saver_t& saved) {
  if (saved.errno_value() == 0 && saved.win32_value() == 0) return "No errors detected";
  std::string text;
  if (saved.win32_value() != 0) text = format_system_error(saved.win32_value());
  if (saved.errno_value() != 0) {
    text += text.empty() ? "Runtime error is " : " and runtime error is ";
    char buffer[256];
    strerror_s(buffer, sizeof(buffer), saved.errno_value());
    text += buffer;
    char number[32];
    std::snprintf(number, sizeof(number), " (errno=%d)", saved.errno_value());
    text += number;
  }
  saved.restore();
  return text;
}

std::string get_last_error() {
  const error_saver_t saved;
  return get_last_error(saved);
}
