// The validator's settings: values of one registry key, typed access by
// internal name, and the configuration blob the management console keeps;
// further configurations, one per network policy that names one, each in a
// key of its own below.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "kern/types.h"
#include "platform/win32.h"

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
// The settings: first the five the blob carries, in the order the blob and
// load use, then those kept in the registry only.
extern const setting_t settings_table[6];
constexpr size_t blob_settings = 5;

// Configuration 0 is the default: the settings key itself. Every other
// configuration is the key <configurations_key>\<id in decimal>, holding the
// same values with the same names and defaults.
extern const char16_t configurations_key[];
std::u16string configuration_key(uint32_t id);

// The settings as one set: the blob's five, as the blob carries them and the
// dialog edits them, and those of the registry only.
struct values_t {
  std::u16string server_name;
  uint32_t server_port = 0;
  uint32_t server_timeout = 0;
  uint32_t cache_time = 0;
  uint32_t validate = 0;
  uint32_t stale_time = 0;
  bool operator==(const values_t&) const = default;
};

// The defaults of the table.
values_t default_values();

// The stored value, or the default when it is missing, of another type or
// unreadable (with a level-1 log line when the key cannot be opened). A name
// that is not a string (numeric) setting raises BUG_exception.
std::u16string read_string(const char* name);
uint32_t read_number(const char* name);

// Told of every read_string and read_number that found the settings key
// missing or unreadable (the reason in words), and of every read, these and
// find_stored's, that found a value of another type; null: nobody (the
// default). Returns the observer it replaced.
enum class read_problem_t { key_unreadable, wrong_type };
typedef void (*read_observer_t)(const char16_t* value_name, read_problem_t problem, const std::string& reason);
read_observer_t set_read_observer(read_observer_t observer);

// The blob's five, each read as read_string and read_number read it; the
// others are their defaults.
values_t read_all();

// The internal names of the blob's settings in which a and b differ, in
// table order.
std::vector<const char*> differing(const values_t& a, const values_t& b);

// The whole set of a configuration as stored, read through one key handle;
// none when the configuration does not exist (for 0: no settings key), also
// when it goes while being read. A value of another type is its default; so
// is a missing one in the default configuration. A network policy's
// configuration is one only once its key holds all five values (made by
// create_configuration, which writes them into a new key; earlier versions
// made them whole too): a key that lacks one is a creation cut short or
// still running, and none. A key that exists and cannot be read (access
// denied, a damaged store) raises napcommon::com_error_t with the HRESULT of
// the registry's error, so that nobody takes the defaults for the settings.
std::optional<values_t> find_stored(uint32_t config);

// The same for the configurator: the defaults for a default configuration
// without a key; napcommon::com_error_t with NAP_E_SHV_CONFIG_NOT_FOUND for
// any other configuration that does not exist.
values_t read_stored(uint32_t config = 0);

// Store a setting (REG_SZ with its NUL, REG_DWORD): ERROR_SUCCESS when it is
// stored, else the Win32 error that kept it out, logged at level 1. Never
// throws; a name that is not a setting of that kind is ignored
// (ERROR_INVALID_PARAMETER, nothing logged). The default configuration's key
// is made when missing; another configuration's never is: writing to one
// that does not exist is ERROR_FILE_NOT_FOUND.
DWORD write(const char* name, const std::u16string& value, uint32_t config = 0);
DWORD write(const char* name, uint32_t value, uint32_t config = 0);

// What writing a set of settings did.
struct write_report_t {
  // ERROR_SUCCESS when every setting of the set is stored; else the Win32
  // error that kept the set out.
  DWORD error = ERROR_SUCCESS;
  // The setting whose write failed with error; null when none was tried
  // (the settings as they were could not be read).
  const char* failed = nullptr;
  // Written before the failure and put back as they were, in that order.
  std::vector<const char*> put_back;
  // Written before the failure and left so: putting them back failed too
  // (name, Win32 error), and the configuration mixes old and new values.
  std::vector<std::pair<const char*, DWORD>> not_put_back;
};

// Writes the named settings of values as one change: one write each, in the
// order given. When one fails, the rest are not tried and those already
// written get back what they held (a value that was missing goes again), so
// that the configuration is the old one or the new one. Before writing, the
// settings as they are are read; when that fails nothing is written. A
// network policy's configuration that does not exist, or is not whole, is
// ERROR_FILE_NOT_FOUND. Every failure is logged at level 1.
write_report_t write_values(const values_t& values, const std::vector<const char*>& names, uint32_t config = 0);

// The report in words for a log line: "stored", or what was refused and
// what became of the settings written before.
std::string describe(const write_report_t& report);

// Makes configuration id (not 0) holding values, the last of its five values
// making it whole: ERROR_SUCCESS; ERROR_ALREADY_EXISTS when it exists (it is
// left as it is). A key of that id that is not whole (a creation cut short)
// is made whole. Else the error, logged at level 1, and the key is removed
// again; a removal that fails is logged as well, and what it leaves is no
// configuration (see find_stored).
DWORD create_configuration(uint32_t id, const values_t& values);
// Removes configuration id (not 0): ERROR_SUCCESS, ERROR_FILE_NOT_FOUND when
// there is none, else the error (logged at level 1).
DWORD delete_configuration(uint32_t id);
// Removes every configuration but the default: ERROR_SUCCESS, also when
// there was none, else the error (logged at level 1).
DWORD delete_all_configurations();

// The blob: little-endian 32-bit version (2), name length in bytes, port,
// time-out, cache time, validate; then the server name in UTF-16LE.
std::string to_blob(const values_t& values);
// Checks the whole blob (BUG_exception "size mismatch" or "unsupported
// version"); an odd last byte of the name is dropped.
values_t from_blob(lstr_t blob);

// The blob of the current settings, read as read_string and read_number do.
void load(std::string& out);
// Checks the whole blob first, then writes its five settings as one change
// (write_values); the others are kept as stored.
write_report_t save(lstr_t blob, uint32_t config = 0);

}  // namespace shv_settings
