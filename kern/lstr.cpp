// Operations of the text slice lstr_t.
#include "kern/types.h"

uint64_t lstr_t::hash() const {
  if (length == 0) return 0;
  uint64_t h = static_cast<unsigned char>(pointer[0]);
  for (uint64_t i = 1; i < length; ++i) h = h * 31 + static_cast<unsigned char>(pointer[i]);
  return h;
}

bool operator==(const lstr_t& a, const lstr_t& b) {
  if (a.length != b.length) return false;
  if (a.pointer == b.pointer || a.length == 0) return true;
  return std::memcmp(a.pointer, b.pointer, a.length) == 0;
}

int64_t lstr_t::find(lstr_t s) const {
  if (s.length > length) return -1;
  if (s.length == 0) return 0;
  for (uint64_t i = 0; i + s.length <= length; ++i) {
    if (pointer[i] == s.pointer[0] && std::memcmp(pointer + i, s.pointer, s.length) == 0) {
      return static_cast<int64_t>(i);
    }
  }
  return -1;
}

int64_t lstr_t::rfind(char c) const {
  for (uint64_t i = length; i > 0; --i) {
    if (pointer[i - 1] == c) return static_cast<int64_t>(i - 1);
  }
  return -1;
}

lstr_t lstr_t::split(lstr_t sep) {
  const int64_t at = sep.length == 0 ? -1 : find(sep);
  if (at < 0) {
    lstr_t whole = *this;
    *this = lstr_t(pointer + length, 0);
    return whole;
  }
  lstr_t head(pointer, static_cast<uint64_t>(at));
  const uint64_t skip = static_cast<uint64_t>(at) + sep.length;
  *this = lstr_t(pointer + skip, length - skip);
  return head;
}

lstr_t lstr_t::split_if_found(lstr_t sep) {
  if (sep.length == 0) return split(sep);
  const int64_t at = find(sep);
  if (at < 0) return lstr_t(pointer, 0);
  return split(sep);
}
