// Stand-in for the Win32 code-page conversions, over iconv. CP_ACP and CP_UTF8
// are UTF-8 on this platform; any other code page n is iconv's "CP<n>". As on
// Windows without flags, malformed input is not an error: each bad unit becomes
// U+FFFD (or "?" in a code page that cannot show it).
#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/kernel/errno_guard.h"
#include "platform/win32.h"

namespace {

std::string charset_of(UINT code_page) {
  if (code_page == CP_ACP || code_page == CP_UTF8) return "UTF-8";
  return "CP" + std::to_string(code_page);
}

// Descriptors cost far more to open than to reset, and the same few
// directions come again and again: a few idle ones are kept for reuse.
class iconv_handle_t {
 public:
  iconv_handle_t(const std::string& to, const std::string& from) : to_(to), from_(from) {
    {
      std::lock_guard<std::mutex> guard(pool().lock);
      auto& idle = pool().idle;
      for (auto it = idle.begin(); it != idle.end(); ++it) {
        if (it->to == to && it->from == from) {
          handle_ = it->handle;
          idle.erase(it);
          return;
        }
      }
    }
    handle_ = iconv_open(to.c_str(), from.c_str());
  }
  ~iconv_handle_t() {
    if (!ok()) return;
    iconv(handle_, nullptr, nullptr, nullptr, nullptr);  // back to the initial shift state
    {
      std::lock_guard<std::mutex> guard(pool().lock);
      auto& idle = pool().idle;
      if (idle.size() < max_idle) {
        try {
          idle.push_back(idle_t{to_, from_, handle_});
          return;
        } catch (...) {
        }
      }
    }
    iconv_close(handle_);
  }
  iconv_handle_t(const iconv_handle_t&) = delete;
  iconv_handle_t& operator=(const iconv_handle_t&) = delete;
  bool ok() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return handle_; }

 private:
  static constexpr size_t max_idle = 8;
  struct idle_t {
    std::string to;
    std::string from;
    iconv_t handle;
  };
  struct pool_t {
    std::mutex lock;
    std::vector<idle_t> idle;
  };
  static pool_t& pool() {
    static auto* instance = new pool_t;  // usable from late static destructors
    return *instance;
  }

  std::string to_;
  std::string from_;
  iconv_t handle_ = reinterpret_cast<iconv_t>(-1);
};

// Converts all of in; a unit iconv rejects is skipped (unit bytes) and the
// replacement is converted in its place. Returns false when iconv cannot run.
bool convert(const std::string& to, const std::string& from, const char* in, size_t in_size,
             size_t unit, const std::string& replacement, std::string& out) {
  iconv_handle_t cd(to, from);
  if (!cd.ok()) return false;
  out.clear();
  char buffer[4096];
  char* src = const_cast<char*>(in);
  size_t left = in_size;
  while (left > 0) {
    char* dst = buffer;
    size_t room = sizeof(buffer);
    const size_t rc = iconv(cd.get(), &src, &left, &dst, &room);
    out.append(buffer, static_cast<size_t>(dst - buffer));
    if (rc != static_cast<size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    if (errno != EILSEQ && errno != EINVAL) return false;
    out += replacement;
    const size_t skip = left < unit ? left : unit;
    src += skip;
    left -= skip;
  }
  return true;
}

}  // namespace

int WideCharToMultiByte(UINT code_page, DWORD flags, LPCWSTR wide, int wide_length, LPSTR out,
                        int out_size, LPCSTR, BOOL* used_default) {
  const plat_linux::errno_guard_t keep_errno;
  if (wide == nullptr || flags != 0 || out_size < 0 || (out_size > 0 && out == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (used_default) *used_default = FALSE;
  size_t units = 0;
  if (wide_length < 0) {
    while (wide[units] != 0) ++units;
    ++units;  // the terminator is converted too
  } else {
    units = static_cast<size_t>(wide_length);
  }
  const std::string target = charset_of(code_page);
  const std::string replacement = target == "UTF-8" ? "\xEF\xBF\xBD" : "?";
  std::string result;
  if (!convert(target, "UTF-16LE", reinterpret_cast<const char*>(wide), units * 2, 2, replacement,
               result)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (out_size == 0) return static_cast<int>(result.size());
  if (result.size() > static_cast<size_t>(out_size)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(out, result.data(), result.size());
  return static_cast<int>(result.size());
}

int MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR text, int length, LPWSTR out,
                        int out_size) {
  const plat_linux::errno_guard_t keep_errno;
  if (text == nullptr || flags != 0 || out_size < 0 || (out_size > 0 && out == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const size_t bytes = length < 0 ? std::strlen(text) + 1 : static_cast<size_t>(length);
  std::string result;
  if (!convert("UTF-16LE", charset_of(code_page), text, bytes, 1, std::string("\xFD\xFF", 2),
               result)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const size_t units = result.size() / 2;
  if (out_size == 0) return static_cast<int>(units);
  if (units > static_cast<size_t>(out_size)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(out, result.data(), units * 2);
  return static_cast<int>(units);
}
