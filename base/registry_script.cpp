// Parsing and running registry scripts.
#include "base/registry_script.h"

#include <cctype>

#include "kern/exceptions.h"
#include "kern/logger.h"
#include "kern/numstrings.h"
#include "kern/unicode.h"

namespace base_n {

namespace {

// Script text is UTF-8, so that a module path keeps every character.
std::u16string from_utf8(const std::string& text) {
  std::u16string out;
  from_cp_to_unicode(out, text.data(), CP_UTF8, text.size());
  return out;
}

struct token_t {
  std::string text;
  bool quoted = false;
  int line = 1;
};

std::string expand(const std::string& text, const rgs_replacements_t& replacements) {
  std::string out;
  int line = 1;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') ++line;
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    const size_t end = text.find('%', i + 1);
    if (end == std::string::npos) KERN_THROW(parse_exception, "line %d: unterminated %%name%%", line);
    const std::string name = text.substr(i + 1, end - i - 1);
    if (name.empty()) {
      out += '%';
    } else {
      const auto it = replacements.find(name);
      if (it == replacements.end()) KERN_THROW(parse_exception, "line %d: no replacement for %%%s%%", line, name.c_str());
      out += it->second;
    }
    i = end;
  }
  return out;
}

std::vector<token_t> tokenize(const std::string& text) {
  std::vector<token_t> tokens;
  int line = 1;
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\n') ++line;
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
      continue;
    }
    token_t t;
    t.line = line;
    if (c == '\'') {
      t.quoted = true;
      ++i;
      for (;;) {
        if (i >= text.size()) KERN_THROW(parse_exception, "line %d: unterminated quoted text", t.line);
        if (text[i] == '\'') {
          if (i + 1 < text.size() && text[i + 1] == '\'') {
            t.text += '\'';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        if (text[i] == '\n') ++line;
        t.text += text[i++];
      }
    } else {
      while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i]))) t.text += text[i++];
    }
    tokens.push_back(std::move(t));
  }
  return tokens;
}

bool same_ignoring_case(const std::string& a, const char* b) {
  const std::string other(b);
  if (a.size() != other.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(other[i]))) return false;
  }
  return true;
}

class parser_t {
 public:
  explicit parser_t(std::vector<token_t> tokens) : tokens_(std::move(tokens)) {}

  std::vector<rgs_root_t> script() {
    std::vector<rgs_root_t> roots;
    while (!at_end()) {
      rgs_root_t root;
      const token_t& name = next("a root key");
      root.root = root_key(name);
      expect("{");
      while (!peek_is("}")) root.keys.push_back(key());
      expect("}");
      roots.push_back(std::move(root));
    }
    return roots;
  }

 private:
  rgs_key_t key() {
    rgs_key_t k;
    const token_t* t = &next("a key name");
    if (!t->quoted) {
      if (same_ignoring_case(t->text, "NoRemove")) k.mode = rgs_key_t::mode_t::no_remove;
      else if (same_ignoring_case(t->text, "ForceRemove")) k.mode = rgs_key_t::mode_t::force_remove;
      else if (same_ignoring_case(t->text, "Delete")) k.mode = rgs_key_t::mode_t::remove;
      if (k.mode != rgs_key_t::mode_t::normal) t = &next("a key name");
    }
    if (!t->quoted && (t->text == "{" || t->text == "}" || t->text == "=" || same_ignoring_case(t->text, "val"))) {
      fail(*t, "a key name");
    }
    k.name = from_utf8(t->text);
    if (peek_is("=")) {
      next("=");
      k.default_value = value(std::u16string());
    }
    if (peek_is("{")) {
      next("{");
      while (!peek_is("}")) {
        if (!peek().quoted && same_ignoring_case(peek().text, "val")) {
          next("val");
          const token_t& name = next("a value name");
          expect("=");
          k.values.push_back(value(from_utf8(name.text)));
        } else {
          k.subkeys.push_back(key());
        }
      }
      expect("}");
    }
    return k;
  }

  rgs_value_t value(std::u16string name) {
    rgs_value_t v;
    v.name = std::move(name);
    const token_t& type = next("a value type (s, d or b)");
    const token_t& data = next("quoted value data");
    if (!data.quoted) fail(data, "quoted value data");
    if (same_ignoring_case(type.text, "s")) {
      v.type = REG_SZ;
      const std::u16string wide = from_utf8(data.text);
      for (char16_t ch : wide) {
        v.data.push_back(static_cast<uint8_t>(ch));
        v.data.push_back(static_cast<uint8_t>(ch >> 8));
      }
      v.data.push_back(0);
      v.data.push_back(0);
    } else if (same_ignoring_case(type.text, "d")) {
      v.type = REG_DWORD;
      const uint32_t n = dword(data);
      for (int i = 0; i < 4; ++i) v.data.push_back(static_cast<uint8_t>(n >> (8 * i)));
    } else if (same_ignoring_case(type.text, "b")) {
      v.type = REG_BINARY;
      if (data.text.size() % 2 != 0) fail(data, "an even number of hex digits");
      for (size_t i = 0; i < data.text.size(); i += 2) {
        const int hi = hex_digit(data.text[i]), lo = hex_digit(data.text[i + 1]);
        if (hi < 0 || lo < 0) fail(data, "hex digits");
        v.data.push_back(static_cast<uint8_t>(hi * 16 + lo));
      }
    } else {
      fail(type, "a value type (s, d or b)");
    }
    return v;
  }

  uint32_t dword(const token_t& t) {
    const std::string& s = t.text;
    uint64_t n = 0;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
      if (s.size() > 10) fail(t, "a 32-bit number");
      for (size_t i = 2; i < s.size(); ++i) {
        const int d = hex_digit(s[i]);
        if (d < 0) fail(t, "a 32-bit number");
        n = n * 16 + static_cast<uint64_t>(d);
      }
    } else {
      try {
        n = kern_n::string_to_number<uint64_t>(lstr_t(s), false, true);
      } catch (const number_format_exception_shell_t&) {
        fail(t, "a 32-bit number");
      }
      if (n > 0xFFFFFFFFull) fail(t, "a 32-bit number");
    }
    return static_cast<uint32_t>(n);
  }

  static int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  static HKEY root_key(const token_t& t) {
    if (!t.quoted) {
      if (same_ignoring_case(t.text, "HKCR") || same_ignoring_case(t.text, "HKEY_CLASSES_ROOT")) return HKEY_CLASSES_ROOT;
      if (same_ignoring_case(t.text, "HKLM") || same_ignoring_case(t.text, "HKEY_LOCAL_MACHINE")) return HKEY_LOCAL_MACHINE;
    }
    KERN_THROW(parse_exception, "line %d: expected a root key (HKCR or HKLM), found \"%s\"", t.line, t.text.c_str());
  }

  bool at_end() const { return pos_ >= tokens_.size(); }
  const token_t& peek() const {
    if (at_end()) KERN_THROW(parse_exception, "unexpected end of script");
    return tokens_[pos_];
  }
  bool peek_is(const char* text) const { return !peek().quoted && peek().text == text; }
  const token_t& next(const char* what) {
    if (at_end()) KERN_THROW(parse_exception, "unexpected end of script, expected %s", what);
    return tokens_[pos_++];
  }
  void expect(const char* text) {
    const token_t& t = next(text);
    if (t.quoted || t.text != text) fail(t, text);
  }
  [[noreturn]] static void fail(const token_t& t, const char* what) {
    KERN_THROW(parse_exception, "line %d: expected %s, found \"%s\"", t.line, what, t.text.c_str());
  }

  std::vector<token_t> tokens_;
  size_t pos_ = 0;
};

}  // namespace

std::vector<rgs_root_t> parse_registry_script(const std::string& text, const rgs_replacements_t& replacements) {
  return parser_t(tokenize(expand(text, replacements))).script();
}

std::string rgs_quote(const std::string& text) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

}  // namespace base_n
