// Test helpers: registry keys and values through the registry calls
// themselves, past the code under test, to set up what it reads and to see
// what it wrote.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "platform/wide.h"
#include "platform/win32.h"

namespace test_support {

// A stored value: its type and bytes as they are.
struct reg_value_t {
  DWORD type = 0;
  std::string bytes;
  // The bytes as UTF-16 text, without the terminators.
  std::u16string text() const {
    std::u16string s(bytes.size() / 2, u'\0');
    std::memcpy(s.data(), bytes.data(), s.size() * 2);
    while (!s.empty() && s.back() == u'\0') s.pop_back();
    return s;
  }
  // A REG_DWORD's number; 0 for bytes of another size.
  uint32_t number() const {
    uint32_t v = 0;
    if (bytes.size() == 4) std::memcpy(&v, bytes.data(), 4);
    return v;
  }
};

// The value name (empty: the key's default value) of an open key, or none
// when it is missing.
inline std::optional<reg_value_t> reg_value(HKEY key, const std::u16string& name) {
  const auto* value_name = name.empty() ? nullptr : plat::wstr(name.c_str());
  reg_value_t v;
  DWORD size = 0;
  LSTATUS rc = RegQueryValueExW(key, value_name, nullptr, &v.type, nullptr, &size);
  if (rc == ERROR_SUCCESS) {
    v.bytes.resize(size);
    rc = RegQueryValueExW(key, value_name, nullptr, &v.type, reinterpret_cast<BYTE*>(v.bytes.data()), &size);
    v.bytes.resize(size);
  }
  if (rc != ERROR_SUCCESS) return std::nullopt;
  return v;
}

// The same under root\path, or none when the key or the value is missing.
inline std::optional<reg_value_t> reg_value(HKEY root, const std::u16string& path, const std::u16string& name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, plat::wstr(path.c_str()), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
  std::optional<reg_value_t> v = reg_value(key, name);
  RegCloseKey(key);
  return v;
}

inline bool key_exists(HKEY root, const std::u16string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, plat::wstr(path.c_str()), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// Stores bytes as they are, of any type (also ones the code under test must
// refuse), as the value name (null or empty: the default value) of an open
// key.
inline LSTATUS set_raw(HKEY key, const char16_t* name, DWORD type, const std::string& bytes) {
  return RegSetValueExW(key, name ? plat::wstr(name) : nullptr, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                        static_cast<DWORD>(bytes.size()));
}

// The same under root\path, which is created when missing.
inline LSTATUS set_raw(HKEY root, const std::u16string& path, const char16_t* name, DWORD type,
                       const std::string& bytes) {
  HKEY key = nullptr;
  LSTATUS rc = RegCreateKeyExW(root, plat::wstr(path.c_str()), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  rc = set_raw(key, name, type, bytes);
  RegCloseKey(key);
  return rc;
}

}  // namespace test_support
