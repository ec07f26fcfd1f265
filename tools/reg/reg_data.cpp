// Conversion of value data between the command line, the registry bytes and
// reg.exe's display.
#include "reg_data.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "kern/unicode.h"
#include "reg_args.h"

namespace reg_tool {
namespace {

[[noreturn]] void bad_data() {
  throw usage_error_t{"ERROR: Invalid syntax.\nType \"REG ADD /?\" for usage."};
}

void append_utf16(std::string& out, const std::u16string& text, bool terminate) {
  for (char16_t c : text) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  if (terminate) out.append(2, '\0');
}

std::u16string utf16_of(const std::string& bytes) {
  std::u16string out;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    out += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                 (static_cast<unsigned char>(bytes[i + 1]) << 8));
  return out;
}

std::string narrow(const std::u16string& text) {
  try {
    return to_narrow(text);
  } catch (...) {
    return std::string(text.size(), '?');
  }
}

std::string hex(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 0xF];
  }
  return out;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decimal, or hexadecimal after 0x; the whole text, no sign, at most 32 bits.
uint32_t parse_dword(const std::string& text) {
  if (text.empty()) return 0;
  const bool is_hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = is_hex ? text.substr(2) : text;
  if (digits.empty()) bad_data();
  uint64_t value = 0;
  for (char c : digits) {
    const int d = is_hex ? hex_digit(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
    if (d < 0) bad_data();
    value = value * (is_hex ? 16 : 10) + static_cast<uint64_t>(d);
    if (value > 0xFFFFFFFFull) bad_data();
  }
  return static_cast<uint32_t>(value);
}

std::vector<std::string> split_items(const std::string& text, char separator) {
  std::vector<std::string> items;
  if (text.empty()) return items;
  const std::string sep = separator ? std::string(1, separator) : std::string("\\0");
  size_t start = 0;
  while (true) {
    const size_t at = text.find(sep, start);
    items.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) break;
    start = at + sep.size();
  }
  // A trailing separator ends the list; an empty item inside it would end it
  // early and lose the rest.
  if (items.size() > 1 && items.back().empty()) items.pop_back();
  for (const std::string& item : items)
    if (item.empty()) bad_data();
  return items;
}

}  // namespace

std::string encode_data(const std::string& type, const std::string& text, char separator) {
  std::string out;
  const DWORD kind = type_of_name(type);
  switch (kind) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      append_utf16(out, to_wide(text), true);
      break;
    case REG_MULTI_SZ:
      for (const std::string& item : split_items(text, separator))
        append_utf16(out, to_wide(item), true);
      out.append(2, '\0');
      break;
    case REG_DWORD: {
      const uint32_t value = parse_dword(text);
      for (int i = 0; i < 4; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
      break;
    }
    case REG_BINARY:
      if (text.size() % 2 != 0) bad_data();
      for (size_t i = 0; i < text.size(); i += 2) {
        const int high = hex_digit(text[i]);
        const int low = hex_digit(text[i + 1]);
        if (high < 0 || low < 0) bad_data();
        out += static_cast<char>(high * 16 + low);
      }
      break;
    default:
      bad_data();
  }
  return out;
}

DWORD type_of_name(const std::string& type) {
  if (type == "REG_SZ") return REG_SZ;
  if (type == "REG_EXPAND_SZ") return REG_EXPAND_SZ;
  if (type == "REG_MULTI_SZ") return REG_MULTI_SZ;
  if (type == "REG_DWORD") return REG_DWORD;
  if (type == "REG_BINARY") return REG_BINARY;
  return REG_NONE;
}

std::string type_name(DWORD type) {
  switch (type) {
    case REG_NONE: return "REG_NONE";
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_DWORD_BIG_ENDIAN: return "REG_DWORD_BIG_ENDIAN";
    case REG_LINK: return "REG_LINK";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    case REG_QWORD: return "REG_QWORD";
    default: {
      char text[32];
      std::snprintf(text, sizeof(text), "REG_UNKNOWN(%u)", static_cast<unsigned>(type));
      return text;
    }
  }
}

std::string display_data(DWORD type, const std::string& bytes) {
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
      const std::u16string text = utf16_of(bytes);
      return narrow(text.substr(0, text.find(u'\0')));
    }
    case REG_MULTI_SZ: {
      std::u16string text = utf16_of(bytes);
      while (!text.empty() && text.back() == u'\0') text.pop_back();
      std::string out;
      size_t start = 0;
      while (start <= text.size()) {
        const size_t at = text.find(u'\0', start);
        if (start > 0) out += "\\0";
        out += narrow(text.substr(start, at == std::u16string::npos ? std::u16string::npos : at - start));
        if (at == std::u16string::npos) break;
        start = at + 1;
      }
      return out;
    }
    case REG_DWORD:
    case REG_QWORD: {
      const size_t width = type == REG_DWORD ? 4 : 8;
      if (bytes.size() != width) return hex(bytes);
      uint64_t value = 0;
      for (size_t i = width; i-- > 0;) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
      char text[32];
      std::snprintf(text, sizeof(text), "0x%llx", static_cast<unsigned long long>(value));
      return text;
    }
    default:
      return hex(bytes);
  }
}

}  // namespace reg_tool
