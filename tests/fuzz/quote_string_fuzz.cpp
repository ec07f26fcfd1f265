// Any bytes through quote_string: the result is one printable word (no blank,
// no control byte) and decodes back to exactly the input.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "kern/quote_utils.h"

namespace {
int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  std::abort();
}

std::string decode(const std::string& quoted) {
  if (quoted == "%Z") return std::string();
  std::string out;
  for (size_t i = 0; i < quoted.size(); ++i) {
    if (quoted[i] != '%') {
      out += quoted[i];
      continue;
    }
    if (i + 1 >= quoted.size()) std::abort();
    const char code = quoted[++i];
    switch (code) {
      case 'M': out += ", "; break;
      case 'L': out += "\r\n"; break;
      case 'S': out += ' '; break;
      case 'P': out += '%'; break;
      default:
        if (i + 1 >= quoted.size()) std::abort();
        out += static_cast<char>(hex_value(code) * 16 + hex_value(quoted[++i]));
    }
  }
  return out;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string quoted = "keep:";
  quote_string(data, size, quoted);
  if (quoted.compare(0, 5, "keep:") != 0) std::abort();  // appends, never replaces
  quoted.erase(0, 5);
  for (unsigned char c : quoted) {
    if (c <= 0x20 || c >= 0x7F) std::abort();
  }
  if (decode(quoted) != std::string(reinterpret_cast<const char*>(data), size)) std::abort();
  return 0;
}
