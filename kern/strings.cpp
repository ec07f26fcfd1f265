// Formatting into strings, with the library's size cap and failure texts.
#include "kern/strings.h"

#include <cerrno>
#include <cstdio>
#include <exception>
#include <string_view>

#include "kern/error_text.h"

namespace {
constexpr size_t first_size = 1024;
constexpr size_t max_size = 0x100000;  // 1 MiB
const char too_long_text[] = "Try to allocate more then 1Mb for text buffer, discard long message ";
const char failed_text[] = "vsnprintf failed because of ";

int format_into(std::string& dest, size_t size, const char* format, va_list args) {
  dest.resize(size);
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(dest.data(), size, format, copy);
  va_end(copy);
  return n;
}

void set_too_long(std::string& dest, const char* format) {
  std::string_view quoted(format);
  if (quoted.size() > max_size) quoted = quoted.substr(0, max_size);
  dest.assign(too_long_text);
  dest += '"';
  dest.append(quoted);
  dest += '"';
}
}  // namespace

void string_vprintf(std::string& dest, const char* format, va_list args) noexcept {
  try {
    // The first attempt goes to the stack: most messages fit, and a string
    // resized to 1 KiB would be zero-filled first.
    char first[first_size];
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(first, first_size, format, copy);
    va_end(copy);
    if (n >= 0 && static_cast<size_t>(n) < first_size) {
      dest.assign(first, static_cast<size_t>(n));
      return;
    }
    if (n >= 0 && static_cast<size_t>(n) <= max_size) {
      // The runtime reported the size it needs.
      const size_t needed = static_cast<size_t>(n) + 1;
      n = format_into(dest, needed, format, args);
      if (n < 0) {
        const error_saver_t saved;
        std::string reason = get_last_error(saved);
        saved.restore();
        dest = failed_text + reason;
        return;
      }
      dest.resize(static_cast<size_t>(n) < needed ? static_cast<size_t>(n) : needed - 1);
      return;
    }
    if (n >= 0) {
      set_too_long(dest, format);
      return;
    }
    // The runtime only says "did not fit" (or the text is over the cap): grow
    // by doubling up to the cap.
    size_t size = first_size;
    while (n < 0 || static_cast<size_t>(n) >= size) {
      size *= 2;
      if (size > max_size) {
        set_too_long(dest, format);
        return;
      }
      n = format_into(dest, size, format, args);
    }
    dest.resize(static_cast<size_t>(n));
  } catch (const std::exception& e) {
    try {
      dest.assign(failed_text);
      dest += e.what();
    } catch (...) {
      dest.clear();
    }
  }
}

void string_printf(std::string& dest, const char* format, ...) noexcept {
  va_list args;
  va_start(args, format);
  string_vprintf(dest, format, args);
  va_end(args);
}

std::string string_format(const char* format, ...) {
  std::string out;
  va_list args;
  va_start(args, format);
  string_vprintf(out, format, args);
  va_end(args);
  return out;
}

void kern_n::clear_string(std::string& s) noexcept { std::string().swap(s); }

void kern_n::append_decimal(std::string& out, int64_t value) {
  if (value < 0) {
    out += '-';
    append_decimal(out, static_cast<uint64_t>(0) - static_cast<uint64_t>(value));
    return;
  }
  append_decimal(out, static_cast<uint64_t>(value));
}

void kern_n::append_decimal(std::string& out, uint64_t value) {
  char buffer[24];
  char* p = buffer + sizeof(buffer);
  do {
    *--p = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  out.append(p, static_cast<size_t>(buffer + sizeof(buffer) - p));
}
