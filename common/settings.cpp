// The settings store over the registry key shared by the validator and its
// configurator; no state is kept between calls, so each read sees the latest
// write of the other process.
#include "common/settings.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <initializer_list>
#include <iterator>

#include "common/nap_common.h"
#include "kern/exceptions.h"
#include "kern/logger.h"
#include "kern/pretty_print.h"
#include "kern/regkey.h"
#include "kern/runnable.h"
#include "kern/strings.h"
#include "platform/win32.h"

namespace shv_settings {

const char16_t settings_key[] = u"SOFTWARE\\VexorLabs\\REDIVEVE\\Settings";
const char16_t configurations_key[] = u"SOFTWARE\\VexorLabs\\REDIVEVE\\Settings\\Configurations";

const setting_t settings_table[6] = {
    {"server_name", u"ServerName", kind_string, u"", 0},
    {"server_port", u"ServerPort", kind_number, nullptr, 2193},
    {"server_timeout", u"ServerTimeout", kind_number, nullptr, 10000},
    {"cache_time", u"CacheTime", kind_number, nullptr, 10000},
    {"validate", u"ValidationEnabled", kind_number, nullptr, 1},
    {"stale_time", u"StaleTime", kind_number, nullptr, 0},
};

namespace {

constexpr uint32_t blob_version = 2;
constexpr size_t header_size = 24;
constexpr REGSAM read_access = KEY_READ;                                        // 0x20019
constexpr REGSAM write_access = KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;  // 0x2001F

// The numbers of values_t, in table order (the first row is the string).
uint32_t values_t::* const numbers[] = {nullptr, &values_t::server_port, &values_t::server_timeout,
                                        &values_t::cache_time, &values_t::validate, &values_t::stale_time};
static_assert(std::size(numbers) == std::size(settings_table));

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

size_t row_index(const setting_t& row) { return static_cast<size_t>(&row - settings_table); }

// The settings every configuration holds: the blob's five. The ones after
// them are set by hand where wanted, and a key without them is still whole.
bool required(const setting_t& row) { return row_index(row) < blob_settings; }

// Inside a catch: logs format (name, then the caught failure) at level 1.
void log_failure(const char* format, const char* name) noexcept {
  try {
    const std::string reason = kern_n::describe_current_exception();
    const std::string text = string_format(format, name, reason.c_str());
    pretty_print_exception(lvl_error, text.c_str(), nullptr, nullptr);
  } catch (...) {
  }
}

std::atomic<read_observer_t> read_observer{nullptr};

// Inside a catch, or with the problem in words: tells the observer.
void tell_observer(const setting_t& row, read_problem_t problem, const char* reason = nullptr) noexcept {
  const read_observer_t observer = read_observer.load();
  if (observer == nullptr) return;
  try {
    observer(row.value_name, problem, reason != nullptr ? reason : kern_n::describe_current_exception());
  } catch (...) {
  }
}

// A query failure that is a value of another type (or size).
void tell_type(const setting_t& row, const win::detail::query_failure_t& failure) noexcept {
  using kind_t = win::detail::query_failure_t::kind_t;
  if (failure.kind == kind_t::type || failure.kind == kind_t::size) {
    tell_observer(row, read_problem_t::wrong_type, failure.kind == kind_t::size ? "a REG_DWORD of another size"
                                                                                : "not the registry type it must be");
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

// The registry's calls for one row's value on an open key.
LSTATUS set_string(HKEY key, const setting_t& row, const std::u16string& value) {
  if (value.size() > (UINT32_MAX - sizeof(char16_t)) / sizeof(char16_t)) return ERROR_INVALID_PARAMETER;
  return RegSetValueExW(key, plat::wstr(row.value_name), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(char16_t)));
}

LSTATUS set_number(HKEY key, const setting_t& row, uint32_t value) {
  const BYTE data[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
                        static_cast<BYTE>(value >> 24)};
  return RegSetValueExW(key, plat::wstr(row.value_name), 0, REG_DWORD, data, sizeof(data));
}

// Opens the key of config for writing: the default configuration's is made
// when missing, another's must exist (a configuration deleted meanwhile is
// not brought back by a late write).
LSTATUS open_for_write(uint32_t config, win::regkey_t& key) {
  if (config == 0) {
    return RegCreateKeyExW(HKEY_LOCAL_MACHINE, plat::wstr(settings_key), 0, nullptr, 0, write_access, nullptr,
                           key.put(), nullptr);
  }
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, plat::wstr(configuration_key(config).c_str()), 0, write_access,
                       key.put());
}

// Stores one setting through a freshly opened key: ERROR_SUCCESS, or the
// error that kept it out, logged with the registry layer's text of it.
template <class F>
DWORD write_setting(const char* format, const setting_t& row, uint32_t config, F&& set_value) noexcept {
  LSTATUS rc = ERROR_SUCCESS;
  try {
    win::regkey_t key;
    rc = open_for_write(config, key);
    if (rc != ERROR_SUCCESS) win::detail::check_regkey_result(configuration_key(config), rc);
    rc = set_value(key.get());
    if (rc != ERROR_SUCCESS) win::detail::check_regkey_result(row.value_name, rc);
    return ERROR_SUCCESS;
  } catch (...) {
    log_failure(format, row.name);
    // The registry's calls do not throw: what did ran out of memory.
    if (rc == ERROR_SUCCESS) rc = ERROR_NOT_ENOUGH_MEMORY;
  }
  return static_cast<DWORD>(rc);
}

// Runs a registry call on the key at path: its result, and a level-1 line
// "Unable to <what> because of <why>" unless it succeeded or gave one of the
// expected results.
template <class F>
DWORD configuration_call(const std::string& what, const std::u16string& path, std::initializer_list<LSTATUS> expected,
                         F&& call) noexcept {
  LSTATUS rc = ERROR_SUCCESS;
  try {
    rc = call();
    if (rc == ERROR_SUCCESS || std::find(expected.begin(), expected.end(), rc) != expected.end()) {
      return static_cast<DWORD>(rc);
    }
    win::detail::check_regkey_result(path, rc);
  } catch (...) {
    log_failure("Unable to %s because of %s", what.c_str());
    if (rc == ERROR_SUCCESS) rc = ERROR_NOT_ENOUGH_MEMORY;
  }
  return static_cast<DWORD>(rc);
}

std::string configuration_name(uint32_t id) {
  return id == 0 ? "the default configuration" : "configuration " + std::to_string(id);
}

// The blob's settings' names, in table order.
std::vector<const char*> blob_names() {
  std::vector<const char*> names;
  for (size_t i = 0; i < blob_settings; ++i) names.push_back(settings_table[i].name);
  return names;
}

// A registry error of a strict read, as the caller's exception.
void check_read(LSTATUS rc) {
  if (rc != ERROR_SUCCESS) napcommon::check_res(HRESULT_FROM_WIN32(static_cast<DWORD>(rc)), "Unable to read the settings");
}

// A setting's value as it is stored, whatever its type: to be put back
// exactly, or found missing.
struct stored_value_t {
  bool present = false;
  DWORD type = REG_NONE;
  std::string data;
};
using stored_set_t = stored_value_t[std::size(settings_table)];

// A writer may grow a value between two calls; a few rereads follow it.
constexpr int read_attempts = 4;

// The value of row in key into out: ERROR_SUCCESS, also for a missing one;
// else the registry's error.
LSTATUS read_raw(HKEY key, const setting_t& row, stored_value_t& out) {
  out = stored_value_t();
  std::string buffer;
  for (int attempt = 0; attempt < read_attempts; ++attempt) {
    DWORD type = REG_NONE;
    DWORD size = static_cast<DWORD>(buffer.size());
    const LSTATUS rc = RegQueryValueExW(key, plat::wstr(row.value_name), nullptr, &type,
                                        buffer.empty() ? nullptr : reinterpret_cast<BYTE*>(buffer.data()), &size);
    if (rc == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA) return rc;
    if (rc == ERROR_SUCCESS && (size == 0 || !buffer.empty())) {
      buffer.resize(size);
      out.present = true;
      out.type = type;
      out.data.swap(buffer);
      return ERROR_SUCCESS;
    }
    buffer.assign(size, '\0');
  }
  return ERROR_MORE_DATA;
}

// Every setting of key as stored; whole tells whether all are there.
LSTATUS read_set(HKEY key, stored_set_t& out, bool& whole) {
  whole = true;
  for (const setting_t& row : settings_table) {
    stored_value_t& value = out[row_index(row)];
    if (const LSTATUS rc = read_raw(key, row, value); rc != ERROR_SUCCESS) return rc;
    whole = whole && (value.present || !required(row));
  }
  return ERROR_SUCCESS;
}

// The settings of config as they are before a change, so that a failed one
// can be undone; the default configuration without its key has none. A
// network policy's configuration must exist and be whole.
LSTATUS read_before_change(uint32_t config, stored_set_t& out) {
  win::regkey_t key;
  const LSTATUS opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, plat::wstr(configuration_key(config).c_str()), 0,
                                       read_access, key.put());
  if (opened == ERROR_FILE_NOT_FOUND || opened == ERROR_PATH_NOT_FOUND) {
    return config == 0 ? static_cast<LSTATUS>(ERROR_SUCCESS) : static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);
  }
  if (opened != ERROR_SUCCESS) return opened;
  bool whole = false;
  const LSTATUS rc = read_set(key.get(), out, whole);
  if (rc != ERROR_SUCCESS) return rc;
  return config == 0 || whole ? static_cast<LSTATUS>(ERROR_SUCCESS) : static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);
}

// Gives row back the value it held before the change (removes it when it was
// missing): ERROR_SUCCESS, or the error, logged.
DWORD put_back(const setting_t& row, uint32_t config, const stored_value_t& before) noexcept {
  return write_setting("Unable to put back nap setting \"%s\" because of %s", row, config, [&](HKEY key) -> LSTATUS {
    if (before.present) {
      return RegSetValueExW(key, plat::wstr(row.value_name), 0, before.type,
                            reinterpret_cast<const BYTE*>(before.data.data()), static_cast<DWORD>(before.data.size()));
    }
    const LSTATUS rc = RegDeleteValueW(key, plat::wstr(row.value_name));
    return rc == ERROR_FILE_NOT_FOUND ? static_cast<LSTATUS>(ERROR_SUCCESS) : rc;
  });
}

std::string joined(const std::vector<const char*>& names) {
  std::string text;
  for (const char* name : names) text += std::string(text.empty() ? "" : ", ") + name;
  return text;
}

}  // namespace

read_observer_t set_read_observer(read_observer_t observer) { return read_observer.exchange(observer); }

values_t default_values() {
  values_t values;
  values.server_name = settings_table[0].default_text;
  for (size_t i = 1; i < std::size(settings_table); ++i) values.*numbers[i] = settings_table[i].default_number;
  return values;
}

std::u16string read_string(const char* name) {
  const setting_t* row = find_setting(name, kind_string);
  if (row == nullptr)
    KERN_THROW(BUG_exception, "unknown string nap parameter \"%s\"", name ? name : "(null)");
  std::u16string value;
  try {
    win::regkey_t key;
    key.open(HKEY_LOCAL_MACHINE, settings_key, read_access);
    DWORD type = REG_NONE;
    const win::detail::query_failure_t failure = win::try_query_string_value(key.get(), row->value_name, value, type);
    tell_type(*row, failure);
    if (failure) value = row->default_text;
  } catch (...) {
    log_failure("Unable to nap parameter \"%s\" because of %s", name);
    tell_observer(*row, read_problem_t::key_unreadable);
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
    uint32_t value = row->default_number;
    const win::detail::query_failure_t failure = win::try_query_dword_value(key.get(), row->value_name, value);
    tell_type(*row, failure);
    return failure ? row->default_number : value;
  } catch (...) {
    log_failure("Unable to read numeric nap parameter \"%s\" because of %s", name);
    tell_observer(*row, read_problem_t::key_unreadable);
  }
  return row->default_number;
}

std::u16string configuration_key(uint32_t id) {
  if (id == 0) return settings_key;
  std::u16string key = configurations_key;
  key += u'\\';
  for (const char c : std::to_string(id)) key += static_cast<char16_t>(c);
  return key;
}

std::optional<values_t> find_stored(uint32_t config) {
  values_t values = default_values();
  win::regkey_t key;
  const LSTATUS opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, plat::wstr(configuration_key(config).c_str()), 0,
                                       read_access, key.put());
  if (opened == ERROR_FILE_NOT_FOUND || opened == ERROR_PATH_NOT_FOUND) return std::nullopt;
  check_read(opened);
  // One query per value: a missing one is its default (in the default
  // configuration), and so is one of another type or size (no setting, as
  // for the validator) or one that kept growing while read; any other error
  // is the store's.
  for (const setting_t& row : settings_table) {
    win::detail::query_failure_t failure;
    if (row.kind == kind_string) {
      DWORD type = REG_NONE;
      failure = win::try_query_string_value(key.get(), row.value_name, values.server_name, type);
    } else {
      failure = win::try_query_dword_value(key.get(), row.value_name, values.*numbers[row_index(row)]);
    }
    tell_type(row, failure);
    if (failure.kind != win::detail::query_failure_t::kind_t::registry) continue;
    // A network policy's configuration without all five values is one
    // being made, or whose making was cut short.
    if (failure.code == ERROR_FILE_NOT_FOUND && config != 0 && required(row)) return std::nullopt;
    if (failure.code == ERROR_FILE_NOT_FOUND || failure.code == ERROR_MORE_DATA) continue;
    if (failure.code == ERROR_KEY_DELETED) return std::nullopt;
    check_read(failure.code);
  }
  return values;
}

values_t read_stored(uint32_t config) {
  std::optional<values_t> values = find_stored(config);
  if (!values && config != 0) {
    napcommon::check_res(NAP_E_SHV_CONFIG_NOT_FOUND,
                         string_format("Configuration %u does not exist", static_cast<unsigned>(config)).c_str());
  }
  return values ? *values : default_values();
}

DWORD write(const char* name, const std::u16string& value, uint32_t config) {
  const setting_t* row = find_setting(name, kind_string);
  if (row == nullptr) return ERROR_INVALID_PARAMETER;
  return write_setting("Unable to write string nap setting \"%s\" because of %s", *row, config,
                       [&](HKEY key) { return set_string(key, *row, value); });
}

DWORD write(const char* name, uint32_t value, uint32_t config) {
  const setting_t* row = find_setting(name, kind_number);
  if (row == nullptr) return ERROR_INVALID_PARAMETER;
  return write_setting("Unable to write numeric nap setting \"%s\" because of %s", *row, config,
                       [&](HKEY key) { return set_number(key, *row, value); });
}

write_report_t write_values(const values_t& values, const std::vector<const char*>& names, uint32_t config) {
  write_report_t report;
  std::vector<const setting_t*> rows;
  rows.reserve(names.size());
  for (const char* name : names) {
    const setting_t* row = find_setting(name, kind_string);
    if (row == nullptr) row = find_setting(name, kind_number);
    if (row == nullptr) {
      report.error = ERROR_INVALID_PARAMETER;
      report.failed = name;
      return report;
    }
    rows.push_back(row);
  }
  stored_set_t before;
  report.error = configuration_call("read the settings of " + configuration_name(config) + " before changing them",
                                    configuration_key(config), {}, [&] { return read_before_change(config, before); });
  if (report.error != ERROR_SUCCESS) return report;
  std::vector<const setting_t*> written;
  written.reserve(rows.size());
  for (const setting_t* row : rows) {
    const DWORD error = row->kind == kind_string ? write(row->name, values.server_name, config)
                                                 : write(row->name, values.*numbers[row_index(*row)], config);
    if (error == ERROR_SUCCESS) {
      written.push_back(row);
      continue;
    }
    report.error = error;
    report.failed = row->name;
    // Half a change would send the validator to a new server name on the
    // old port: the change goes back instead, the last written first.
    for (auto at = written.rbegin(); at != written.rend(); ++at) {
      const DWORD undone = put_back(**at, config, before[row_index(**at)]);
      if (undone == ERROR_SUCCESS) {
        report.put_back.push_back((*at)->name);
      } else {
        report.not_put_back.emplace_back((*at)->name, undone);
      }
    }
    break;
  }
  return report;
}

std::string describe(const write_report_t& report) {
  if (report.error == ERROR_SUCCESS) return "stored";
  std::string text = report.not_put_back.empty() ? "nothing stored: " : "stored in part: ";
  const unsigned long error = report.error;
  text += report.failed != nullptr ? string_format("%s refused (error %lu)", report.failed, error)
                                   : string_format("the settings as they were could not be read (error %lu)", error);
  if (!report.put_back.empty()) text += "; put back: " + joined(report.put_back);
  if (!report.not_put_back.empty()) {
    std::string left;
    for (const auto& [name, why] : report.not_put_back) {
      left += string_format("%s%s (error %lu)", left.empty() ? "" : ", ", name, static_cast<unsigned long>(why));
    }
    text += "; left as written, not put back: " + left;
  }
  return text;
}

DWORD create_configuration(uint32_t id, const values_t& values) {
  if (id == 0) return ERROR_INVALID_PARAMETER;
  const std::u16string path = configuration_key(id);
  bool ours = false;
  const DWORD rc = configuration_call("create " + configuration_name(id), path, {ERROR_ALREADY_EXISTS}, [&]() -> LSTATUS {
    win::regkey_t key;
    DWORD disposition = 0;
    LSTATUS result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, plat::wstr(path.c_str()), 0, nullptr, 0, write_access,
                                     nullptr, key.put(), &disposition);
    if (result != ERROR_SUCCESS) return result;
    if (disposition != REG_CREATED_NEW_KEY) {
      // A configuration that exists is not overwritten; a key that is not
      // whole is no configuration, but a creation that did not finish.
      stored_set_t found;
      bool whole = false;
      result = read_set(key.get(), found, whole);
      if (result != ERROR_SUCCESS) return result;
      if (whole) return ERROR_ALREADY_EXISTS;
    }
    ours = true;
    // The settings a configuration may lack first, then the five in table
    // order: the last of them makes it a configuration.
    auto write_row = [&](const setting_t& row) {
      return row.kind == kind_string ? set_string(key.get(), row, values.server_name)
                                     : set_number(key.get(), row, values.*numbers[row_index(row)]);
    };
    for (const setting_t& row : settings_table) {
      if (!required(row) && (result = write_row(row)) != ERROR_SUCCESS) return result;
    }
    for (const setting_t& row : settings_table) {
      if (required(row) && (result = write_row(row)) != ERROR_SUCCESS) return result;
    }
    return ERROR_SUCCESS;
  });
  if (rc != ERROR_SUCCESS && ours) {
    // Logged when it fails; what stays is not whole, so no reader takes it
    // for a configuration, and the next creation of the id finishes it.
    configuration_call("remove the half-made " + configuration_name(id), path, {ERROR_FILE_NOT_FOUND},
                       [&] { return RegDeleteTreeW(HKEY_LOCAL_MACHINE, plat::wstr(path.c_str())); });
  }
  return rc;
}

DWORD delete_configuration(uint32_t id) {
  if (id == 0) return ERROR_INVALID_PARAMETER;
  const std::u16string path = configuration_key(id);
  return configuration_call("delete " + configuration_name(id), path, {ERROR_FILE_NOT_FOUND},
                            [&] { return RegDeleteTreeW(HKEY_LOCAL_MACHINE, plat::wstr(path.c_str())); });
}

DWORD delete_all_configurations() {
  const DWORD rc = configuration_call("delete every configuration but the default", configurations_key,
                                      {ERROR_FILE_NOT_FOUND},
                                      [] { return RegDeleteTreeW(HKEY_LOCAL_MACHINE, plat::wstr(configurations_key)); });
  return rc == ERROR_FILE_NOT_FOUND ? static_cast<DWORD>(ERROR_SUCCESS) : rc;
}

std::string to_blob(const values_t& values) {
  std::string blob;
  blob.reserve(header_size + values.server_name.size() * 2);
  put_u32(blob, blob_version);
  put_u32(blob, static_cast<uint32_t>(values.server_name.size() * 2));
  for (size_t i = 1; i < blob_settings; ++i) put_u32(blob, values.*numbers[i]);
  for (char16_t c : values.server_name) {
    blob += static_cast<char>(c & 0xFF);
    blob += static_cast<char>(c >> 8);
  }
  return blob;
}

values_t from_blob(lstr_t blob) {
  if (blob.length < header_size || blob.pointer == nullptr) KERN_THROW(BUG_exception, "size mismatch");
  const uint32_t name_length = get_u32(blob.pointer + 4);
  if (blob.length != header_size + static_cast<uint64_t>(name_length))
    KERN_THROW(BUG_exception, "size mismatch");
  if (get_u32(blob.pointer) != blob_version) KERN_THROW(BUG_exception, "unsupported version");

  values_t values;
  const size_t units = static_cast<size_t>((blob.length - header_size) / 2);
  values.server_name.reserve(units);
  for (size_t i = 0; i < units; ++i) {
    const char* p = blob.pointer + header_size + 2 * i;
    values.server_name += static_cast<char16_t>(static_cast<unsigned char>(p[0]) |
                                                (static_cast<unsigned char>(p[1]) << 8));
  }
  for (size_t i = 1; i < blob_settings; ++i) values.*numbers[i] = get_u32(blob.pointer + 4 + 4 * i);
  return values;
}

values_t read_all() {
  values_t values = default_values();
  values.server_name = read_string("server_name");
  for (size_t i = 1; i < blob_settings; ++i) values.*numbers[i] = read_number(settings_table[i].name);
  return values;
}

std::vector<const char*> differing(const values_t& a, const values_t& b) {
  std::vector<const char*> names;
  if (a.server_name != b.server_name) names.push_back(settings_table[0].name);
  for (size_t i = 1; i < blob_settings; ++i) {
    if (a.*numbers[i] != b.*numbers[i]) names.push_back(settings_table[i].name);
  }
  return names;
}

void load(std::string& out) {
  std::string blob = to_blob(read_all());
  out.swap(blob);
}

write_report_t save(lstr_t blob, uint32_t config) { return write_values(from_blob(blob), blob_names(), config); }

}  // namespace shv_settings
