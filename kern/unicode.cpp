// Code-page conversion through the platform's WideCharToMultiByte and
// MultiByteToWideChar.
#include "kern/unicode.h"

#include <climits>
#include <cstring>

#include "kern/error_text.h"
#include "kern/exceptions.h"
#include "platform/win32.h"

void from_unicode_to_cp(std::string& out, const std::u16string& in, unsigned code_page) {
  if (in.empty()) {
    out.clear();
    return;
  }
  if (in.size() > INT_MAX / 16) {
    KERN_THROW(BUG_exception, "UNICODE to cp%d conversion failed because of %s", static_cast<int>(code_page),
               format_system_error(ERROR_NOT_ENOUGH_MEMORY).c_str());
  }
  out.resize(in.size() * 16);
  const int n = WideCharToMultiByte(code_page, 0, plat::wstr(in.data()), static_cast<int>(in.size()),
                                    out.data(), static_cast<int>(out.size()), nullptr, nullptr);
  if (n <= 0) {
    const error_saver_t saved;
    const std::string reason = get_last_error(saved);
    out.clear();
    KERN_THROW(BUG_exception, "UNICODE to cp%d conversion failed because of %s", static_cast<int>(code_page),
               reason.c_str());
  }
  out.resize(static_cast<size_t>(n));
}

void from_unicode_to_cp(std::string& out, const std::u16string& in) { from_unicode_to_cp(out, in, CP_ACP); }

std::string to_narrow(const std::u16string& in) {
  std::string out;
  from_unicode_to_cp(out, in, CP_ACP);
  return out;
}

void from_cp_to_unicode(std::u16string& out, const char* text, unsigned code_page, uint64_t length) {
  if (text == nullptr) {
    out.clear();
    return;
  }
  if (length == UINT64_MAX) length = std::strlen(text);
  if (length == 0) {
    out.clear();
    return;
  }
  if (length > INT_MAX / 16) {
    KERN_THROW(BUG_exception, "cp%d to UNICODE conversion failed because of %s", static_cast<int>(code_page),
               format_system_error(ERROR_NOT_ENOUGH_MEMORY).c_str());
  }
  out.resize(length * 16);
  const int n = MultiByteToWideChar(code_page, 0, text, static_cast<int>(length), plat::wstr(out.data()),
                                    static_cast<int>(out.size()));
  if (n <= 0) {
    const error_saver_t saved;
    const std::string reason = get_last_error(saved);
    out.clear();
    KERN_THROW(BUG_exception, "cp%d to UNICODE conversion failed because of %s", static_cast<int>(code_page),
               reason.c_str());
  }
  out.resize(static_cast<size_t>(n));
}

std::u16string to_wide(const std::string& in) {
  std::u16string out;
  from_cp_to_unicode(out, in.data(), CP_ACP, in.size());
  return out;
}
