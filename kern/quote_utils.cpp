// quote_string.
#include "kern/quote_utils.h"

void quote_string(const void* data, size_t length, std::string& out) {
  static const char hex[] = "0123456789abcdef";
  if (length == 0) {
    out += "%Z";
    return;
  }
  out.reserve(out.size() + length);
  const unsigned char* p = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = p[i];
    const bool has_next = i + 1 < length;
    if (c == ',' && has_next && p[i + 1] == ' ') {
      out += "%M";
      ++i;
    } else if (c == '\r' && has_next && p[i + 1] == '\n') {
      out += "%L";
      ++i;
    } else if (c == ' ') {
      out += "%S";
    } else if (c == '%') {
      out += "%P";
    } else if (c < 0x20 || c >= 0x7F) {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 0xF];
    } else {
      out += static_cast<char>(c);
    }
  }
}
