// The core library's registry access: the owner of one open key, and typed
// value access as free functions over a key handle; every registry error
// becomes a win::regkey_exception (or a kind of it) naming the key or value.
#pragma once

#include <cstdint>
#include <string>

#include "kern/types.h"
#include "platform/win32.h"

namespace win {

namespace detail {
// Result 0 passes; otherwise throws the regkey exception of the code with the
// reason "<name>: <system text>" (no "<name>: " for an empty name). The last
// error is the code and errno is as found when it is thrown.
void check_regkey_result(const std::u16string& name, LONG result);
// Accepts stored for requested (a string request accepts the three string
// types and reports the stored one back in requested); else throws
// regkey_wrong_type_exception "requested (R) registry type does not match (S)".
void check_regkey_type(DWORD& requested, DWORD stored);

// What a typed query found wrong, kept instead of thrown: the forms with a
// default, which swallow every failure, skip building the exception (a value
// left at its default is read on every request); the others raise it.
struct query_failure_t {
  enum class kind_t { none, registry, type, size };
  kind_t kind = kind_t::none;
  LONG code = ERROR_SUCCESS;  // registry
  DWORD requested = 0;        // type
  DWORD stored = 0;           // type
  DWORD size = 0;             // size: the bytes of a REG_DWORD value
  explicit operator bool() const { return kind != kind_t::none; }
  // Throws what the check that found the failure throws.
  [[noreturn]] void raise(const std::u16string& name) const;
};
}  // namespace detail

// Owns one open key: closes it when another replaces it and when the owner
// goes. The typed queries and writes below take any key handle, this
// owner's or one another call handed out.
class regkey_t : private noncopyable_t {
 public:
  regkey_t() = default;
  explicit regkey_t(HKEY key) : key_(key) {}
  ~regkey_t() { reset(); }

  HKEY get() const { return key_; }
  // Replaces the held key, closing it first.
  void reset(HKEY key = nullptr);
  // For the registry calls that hand out a key: closes the held one first.
  HKEY* put() {
    reset();
    return &key_;
  }

  // A failure throws and keeps the key held before.
  void open(HKEY root, const std::u16string& sub_key, REGSAM access);
  void create(HKEY root, const std::u16string& sub_key, REGSAM access, DWORD options = 0,
              LPWSTR class_name = nullptr, LPSECURITY_ATTRIBUTES security = nullptr,
              DWORD* disposition = nullptr);

 private:
  HKEY key_ = nullptr;
};

// The value's size in bytes; type is the requested type in, the stored one
// out (see detail::check_regkey_type).
DWORD check_value_type_and_get_size(HKEY key, const std::u16string& name, DWORD& type);

uint32_t query_dword_value(HKEY key, const std::u16string& name);
uint32_t query_dword_value(HKEY key, const std::u16string& name, uint32_t default_value);
// REG_SZ, REG_EXPAND_SZ (unexpanded) or REG_MULTI_SZ (whole, inner NULs
// kept), one trailing NUL removed; type gets the stored type.
void query_string_value(HKEY key, const std::u16string& name, std::u16string& out, DWORD* type = nullptr);
void query_string_value(HKEY key, const std::u16string& name, std::u16string& out,
                        const std::u16string& default_value, DWORD* type = nullptr);

// The typed queries' failures kept instead of thrown, for a caller that
// tells them apart itself (a missing value from a store error) with one
// registry call per value; out is left as it was on a failure.
detail::query_failure_t try_query_dword_value(HKEY key, const std::u16string& name, uint32_t& out);
detail::query_failure_t try_query_string_value(HKEY key, const std::u16string& name, std::u16string& out,
                                               DWORD& type);

void set_dword_value(HKEY key, const std::u16string& name, uint32_t value);
// type must be REG_SZ, REG_EXPAND_SZ or REG_MULTI_SZ; the data written is
// the characters and one terminating NUL.
void set_string_value(HKEY key, const std::u16string& name, const std::u16string& value, DWORD type = REG_SZ);

}  // namespace win
