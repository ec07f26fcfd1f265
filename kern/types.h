// Root interfaces and the small value types every part of the library uses:
// the non-owning text slice lstr_t and the library's time span timegap_t.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>

class if_root_t {
 public:
  virtual ~if_root_t() = default;
};

class if_obj_t : public virtual if_root_t {};

class noncopyable_t {
 public:
  noncopyable_t() = default;
  noncopyable_t(const noncopyable_t&) = delete;
  noncopyable_t& operator=(const noncopyable_t&) = delete;
};

// A signed count of 10-nanosecond ticks; one second is 100,000,000 ticks.
typedef int64_t timegap_t;
constexpr timegap_t ticks_per_second = 100000000;
constexpr timegap_t ticks_per_millisecond = 100000;

// A slice of bytes it does not own (need not be NUL-terminated).
struct lstr_t {
  uint64_t length = 0;
  const char* pointer = nullptr;

  constexpr lstr_t() = default;
  constexpr lstr_t(const char* p, uint64_t n) : length(n), pointer(p) {}
  lstr_t(const char* s) : length(s ? std::strlen(s) : 0), pointer(s) {}  // NOLINT: slices of C strings
  lstr_t(const std::string& s) : length(s.size()), pointer(s.data()) {}  // NOLINT
  explicit lstr_t(std::string_view s) : length(s.size()), pointer(s.data()) {}

  bool empty() const { return length == 0; }
  const char* begin() const { return pointer; }
  const char* end() const { return pointer + length; }
  char operator[](uint64_t i) const { return pointer[i]; }
  std::string str() const { return std::string(pointer, length); }
  std::string_view view() const { return std::string_view(pointer, length); }
  int ilen() const { return static_cast<int>(length); }  // for "%.*s"

  // The library's hash: 0 when empty, else h = first byte, h = h * 31 + byte.
  uint64_t hash() const;

  // Splits off the part before the first occurrence of sep and leaves the rest
  // after it. Not found: returns the whole remainder and leaves it empty. An
  // empty separator returns the whole remainder.
  lstr_t split(lstr_t sep);
  // Like split, but when sep is not found returns an empty slice and leaves the
  // remainder untouched.
  lstr_t split_if_found(lstr_t sep);
  lstr_t split(char sep) { return split(lstr_t(&sep, 1)); }

  // Position of the last byte equal to c, or -1.
  int64_t rfind(char c) const;
  // Position of the first occurrence of s, or -1.
  int64_t find(lstr_t s) const;
};

bool operator==(const lstr_t& a, const lstr_t& b);
inline bool operator!=(const lstr_t& a, const lstr_t& b) { return !(a == b); }

template <>
struct std::hash<lstr_t> {
  size_t operator()(const lstr_t& s) const noexcept { return static_cast<size_t>(s.hash()); }
};
