// The validator's settings: five values of one registry key, typed access by
// internal name, and the configuration blob the management console keeps.
#pragma once

#include <cstdint>
#include <string>

#include "kern/types.h"

namespace shv_settings {

enum setting_kind_t { kind_number = 0, kind_string = 1 };

struct setting_t {
  const char* name;              // internal name
  const char16_t* value_name;    // registry value name
  setting_kind_t kind;
  const char16_t* default_text;  // string setting only
  uint32_t default_number;       // numeric settings only
};

// HKEY_LOCAL_MACHINE\<settings_key>
extern const char16_t settings_key[];
// The five settings, in the order the blob and load use.
extern const setting_t settings_table[5];

// The stored value, or the default when it is missing, of another type or
// unreadable (with a level-1 log line when the key cannot be opened). A name
// that is not a string (numeric) setting raises BUG_exception.
std::u16string read_string(const char* name);
uint32_t read_number(const char* name);

// Store a setting (REG_SZ with its NUL, REG_DWORD). Never throw: a failure is
// logged at level 1; a name that is not a setting of that kind is ignored.
void write(const char* name, const std::u16string& value);
void write(const char* name, uint32_t value);

// The blob: little-endian 32-bit version (2), name length in bytes, port,
// time-out, cache time, validate; then the server name in UTF-16LE.
void load(std::string& out);
// Checks the whole blob first (BUG_exception "size mismatch" or "unsupported
// version"), then writes the five settings one by one.
void save(lstr_t blob);

}  // namespace shv_settings
