// The settings store over the registry key shared by the validator and its
// configurator; no state is kept between calls, so each read sees the latest
// write of the other process.
#include "common/settings.h"

#include <cstring>

#include "kern/exceptions.h"
#include "kern/logger.h"
#include "kern/pretty_print.h"
#include "kern/regkey.h"
#include "kern/runnable.h"
#include "kern/strings.h"
#include "platform/win32.h"

namespace shv_settings {

const char16_t settings_key[] = u"SOFTWARE\\VexorLabs\\REDIVEVE\\Settings";

const setting_t settings_table[5] = {
    {"server_name", u"ServerName", kind_string, u"", 0},
    {"server_port", u"ServerPort", kind_number, nullptr, 2193},
    {"server_timeout", u"ServerTimeout", kind_number, nullptr, 10000},
    {"cache_time", u"CacheTime", kind_number, nullptr, 10000},
    {"validate", u"ValidationEnabled", kind_number, nullptr, 1},
};

namespace {

constexpr uint32_t blob_version = 2;
constexpr size_t header_size = 24;
constexpr REGSAM read_access = KEY_READ;                                        // 0x20019
constexpr REGSAM write_access = KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;  // 0x2001F

// The row of that name and kind. A setting asked for as the other kind is
// not one of that kind: reading or storing it so would hide a defect and, on
// a write, put a value of the wrong type into the key.
const setting_t* find_setting(const char* name, setting_kind_t kind) {
  if (name == nullptr) return nullptr;
  for (const setting_t& row : settings_table) {
    if (std::strcmp(row.name, name) == 0) return row.kind == kind ? &row : nullptr;
  }
  return nullptr;
}

// Inside a catch: logs format (name, then the caught failure) at level 1.
void log_failure(const char* format, const char* name) noexcept {
  try {
    const std::string reason = kern_n::describe_current_exception();
    const std::string text = string_format(format, name, reason.c_str());
    pretty_print_exception(lvl_error, text.c_str(), nullptr, nullptr);
  } catch (...) {
  }
}

uint32_t get_u32(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
         (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

void put_u32(std::string& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Stores one setting through a freshly created key; failures are logged.
template <class F>
void write_setting(const char* format, const char* name, F&& set_value) noexcept {
  try {
    win::regkey_t key;
    key.create(HKEY_LOCAL_MACHINE, settings_key, write_access, 0, nullptr, nullptr, nullptr);
    set_value(key);
  } catch (...) {
    log_failure(format, name);
  }
}

}  // namespace

std::u16string read_string(const char* name) {
  const setting_t* row = find_setting(name, kind_string);
  if (row == nullptr)
    KERN_THROW(BUG_exception, "unknown string nap parameter \"%s\"", name ? name : "(null)");
  std::u16string value;
  try {
    win::regkey_t key;
    key.open(HKEY_LOCAL_MACHINE, settings_key, read_access);
    key.query_string_value(row->value_name, value, row->default_text);
  } catch (...) {
    log_failure("Unable to nap parameter \"%s\" because of %s", name);
    value = row->default_text;
  }
  return value;
}

uint32_t read_number(const char* name) {
  const setting_t* row = find_setting(name, kind_number);
  if (row == nullptr)
    KERN_THROW(BUG_exception, "unknown numeric nap parameter \"%s\"", name ? name : "(null)");
  try {
    win::regkey_t key;
    key.open(HKEY_LOCAL_MACHINE, settings_key, read_access);
    return key.query_dword_value(row->value_name, row->default_number);
  } catch (...) {
    log_failure("Unable to read numeric nap parameter \"%s\" because of %s", name);
  }
  return row->default_number;
}

void write(const char* name, const std::u16string& value) {
  const setting_t* row = find_setting(name, kind_string);
  if (row == nullptr) return;
  write_setting("Unable to write string nap setting \"%s\" because of %s", name,
                [&](win::regkey_t& key) { key.set_string_value(row->value_name, value, REG_SZ); });
}

void write(const char* name, uint32_t value) {
  const setting_t* row = find_setting(name, kind_number);
  if (row == nullptr) return;
  write_setting("Unable to write numeric nap setting \"%s\" because of %s", name,
                [&](win::regkey_t& key) { key.set_dword_value(row->value_name, value); });
}

void load(std::string& out) {
  const std::u16string server_name = read_string("server_name");
  const uint32_t numbers[4] = {read_number("server_port"), read_number("server_timeout"),
                               read_number("cache_time"), read_number("validate")};
  std::string blob;
  blob.reserve(header_size + server_name.size() * 2);
  put_u32(blob, blob_version);
  put_u32(blob, static_cast<uint32_t>(server_name.size() * 2));
  for (uint32_t number : numbers) put_u32(blob, number);
  for (char16_t c : server_name) {
    blob += static_cast<char>(c & 0xFF);
    blob += static_cast<char>(c >> 8);
  }
  out.swap(blob);
}

void save(lstr_t blob) {
  if (blob.length < header_size || blob.pointer == nullptr) KERN_THROW(BUG_exception, "size mismatch");
  const uint32_t name_length = get_u32(blob.pointer + 4);
  if (blob.length != header_size + static_cast<uint64_t>(name_length))
    KERN_THROW(BUG_exception, "size mismatch");
  if (get_u32(blob.pointer) != blob_version) KERN_THROW(BUG_exception, "unsupported version");

  std::u16string server_name;
  const size_t units = static_cast<size_t>((blob.length - header_size) / 2);
  server_name.reserve(units);
  for (size_t i = 0; i < units; ++i) {
    const char* p = blob.pointer + header_size + 2 * i;
    server_name += static_cast<char16_t>(static_cast<unsigned char>(p[0]) |
                                         (static_cast<unsigned char>(p[1]) << 8));
  }
  write("server_name", server_name);
  write("server_port", get_u32(blob.pointer + 8));
  write("server_timeout", get_u32(blob.pointer + 12));
  write("cache_time", get_u32(blob.pointer + 16));
  write("validate", get_u32(blob.pointer + 20));
}

}  // namespace shv_settings
