// Registry key access with type checks and the regkey exception family.
#include "kern/regkey.h"

#include <cerrno>

#include "kern/error_text.h"
#include "kern/exceptions.h"
#include "kern/unicode.h"

namespace win {

namespace {

bool is_string_type(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// A writer may grow a value between the size query and the read; a few
// rereads follow it, a value that keeps growing is an error.
constexpr int read_attempts = 4;

std::string narrow_name(const std::u16string& name) {
  try {
    return to_narrow(name);
  } catch (...) {
    return "<unprintable name>";
  }
}

}  // namespace

namespace detail {

void check_regkey_result(const std::u16string& name, LONG result) {
  if (result == ERROR_SUCCESS) return;
  SetLastError(static_cast<DWORD>(result));
  const error_saver_t saved;
  std::string reason;
  if (!name.empty()) reason = narrow_name(name) + ": ";
  reason += get_last_error(saved);
  saved.restore();
  switch (result) {
    case ERROR_ACCESS_DENIED:
      KERN_THROW(regkey_access_denied_exception, "%s", reason.c_str());
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      KERN_THROW(regkey_not_exists_exception, "%s", reason.c_str());
    default:
      KERN_THROW(regkey_exception, "%s", reason.c_str());
  }
}

// Accepts stored for requested as check_regkey_type does, without throwing.
bool type_accepted(DWORD& requested, DWORD stored) {
  if (requested == stored) return true;
  if (requested == REG_SZ && is_string_type(stored)) {
    requested = stored;
    return true;
  }
  return false;
}

void check_regkey_type(DWORD& requested, DWORD stored) {
  if (type_accepted(requested, stored)) return;
  KERN_THROW(regkey_wrong_type_exception, "requested (%d) registry type does not match (%d)",
             static_cast<int>(requested), static_cast<int>(stored));
}

void query_failure_t::raise(const std::u16string& name) const {
  switch (kind) {
    case kind_t::registry:
      check_regkey_result(name, code);
      break;
    case kind_t::type: {
      DWORD wanted = requested;
      check_regkey_type(wanted, stored);
      break;
    }
    case kind_t::size:
      KERN_THROW(regkey_exception, "%s: a REG_DWORD value of %u bytes", narrow_name(name).c_str(),
                 static_cast<unsigned>(size));
    case kind_t::none:
      break;
  }
  KERN_THROW(BUG_exception, "no registry failure to raise");
}

namespace {

query_failure_t registry_failure(LONG code) {
  query_failure_t failure;
  if (code != ERROR_SUCCESS) {
    failure.kind = query_failure_t::kind_t::registry;
    failure.code = code;
  }
  return failure;
}

// Checks stored against requested (updated as type_accepted does).
query_failure_t type_failure(DWORD& requested, DWORD stored) {
  query_failure_t failure;
  const DWORD wanted = requested;
  if (!type_accepted(requested, stored)) {
    failure.kind = query_failure_t::kind_t::type;
    failure.requested = wanted;
    failure.stored = stored;
  }
  return failure;
}

query_failure_t size_failure(DWORD size) {
  query_failure_t failure;
  failure.kind = query_failure_t::kind_t::size;
  failure.size = size;
  return failure;
}

}  // namespace

}  // namespace detail

void regkey_t::reset(HKEY key) {
  if (key == key_) return;
  if (key_ != nullptr) RegCloseKey(key_);
  key_ = key;
}

void regkey_t::open(HKEY root, const std::u16string& sub_key, REGSAM access) {
  HKEY opened = nullptr;
  detail::check_regkey_result(sub_key,
                              RegOpenKeyExW(root, plat::wstr(sub_key.c_str()), 0, access, &opened));
  reset(opened);
}

void regkey_t::create(HKEY root, const std::u16string& sub_key, REGSAM access, DWORD options,
                      LPWSTR class_name, LPSECURITY_ATTRIBUTES security, DWORD* disposition) {
  HKEY created = nullptr;
  detail::check_regkey_result(
      sub_key, RegCreateKeyExW(root, plat::wstr(sub_key.c_str()), 0, class_name, options, access,
                               security, &created, disposition));
  reset(created);
}

namespace {
detail::query_failure_t try_value_type_and_size(HKEY key, const std::u16string& name, DWORD& type, DWORD& size) {
  DWORD stored = REG_NONE;
  size = 0;
  const detail::query_failure_t failure = detail::registry_failure(
      RegQueryValueExW(key, plat::wstr(name.c_str()), nullptr, &stored, nullptr, &size));
  if (failure) return failure;
  return detail::type_failure(type, stored);
}
}  // namespace

DWORD check_value_type_and_get_size(HKEY key, const std::u16string& name, DWORD& type) {
  DWORD size = 0;
  if (const detail::query_failure_t failure = try_value_type_and_size(key, name, type, size)) failure.raise(name);
  return size;
}

detail::query_failure_t try_query_dword_value(HKEY key, const std::u16string& name, uint32_t& out) {
  // One call: a value of any other size does not fit or comes short, and
  // the registry reports its type and size either way.
  BYTE data[sizeof(uint32_t)] = {};
  DWORD read = sizeof(data);
  DWORD stored = REG_NONE;
  const LONG result = RegQueryValueExW(key, plat::wstr(name.c_str()), nullptr, &stored, data, &read);
  if (result != ERROR_MORE_DATA) {
    if (const detail::query_failure_t failure = detail::registry_failure(result)) return failure;
  }
  DWORD type = REG_DWORD;
  if (const detail::query_failure_t failure = detail::type_failure(type, stored)) return failure;
  if (result == ERROR_MORE_DATA || read != sizeof(data)) return detail::size_failure(read);
  out = static_cast<uint32_t>(data[0]) | (static_cast<uint32_t>(data[1]) << 8) |
        (static_cast<uint32_t>(data[2]) << 16) | (static_cast<uint32_t>(data[3]) << 24);
  return {};
}

uint32_t query_dword_value(HKEY key, const std::u16string& name) {
  uint32_t value = 0;
  if (const detail::query_failure_t failure = try_query_dword_value(key, name, value)) failure.raise(name);
  return value;
}

uint32_t query_dword_value(HKEY key, const std::u16string& name, uint32_t default_value) {
  try {
    uint32_t value = 0;
    return try_query_dword_value(key, name, value) ? default_value : value;
  } catch (...) {
    return default_value;
  }
}

detail::query_failure_t try_query_string_value(HKEY key, const std::u16string& name, std::u16string& out,
                                               DWORD& type) {
  DWORD stored = REG_SZ;
  DWORD size = 0;
  if (const detail::query_failure_t failure = try_value_type_and_size(key, name, stored, size)) return failure;
  std::u16string buffer;
  for (int attempt = 0; size != 0; ++attempt) {
    if (attempt == read_attempts) return detail::registry_failure(ERROR_MORE_DATA);
    // Rounded up: an odd byte count still fits, its last byte is dropped.
    buffer.assign((static_cast<size_t>(size) + 1) / 2, u'\0');
    DWORD read = static_cast<DWORD>(buffer.size() * sizeof(char16_t));
    DWORD read_type = REG_NONE;
    const LONG result = RegQueryValueExW(key, plat::wstr(name.c_str()), nullptr, &read_type,
                                         reinterpret_cast<LPBYTE>(buffer.data()), &read);
    if (result == ERROR_MORE_DATA) {
      size = read;
      continue;
    }
    if (const detail::query_failure_t failure = detail::registry_failure(result)) return failure;
    stored = REG_SZ;
    if (const detail::query_failure_t failure = detail::type_failure(stored, read_type)) return failure;
    buffer.resize(read / sizeof(char16_t));
    if (!buffer.empty() && buffer.back() == u'\0') buffer.pop_back();
    break;
  }
  out.swap(buffer);
  type = stored;
  return {};
}

void query_string_value(HKEY key, const std::u16string& name, std::u16string& out, DWORD* type) {
  DWORD stored = REG_NONE;
  if (const detail::query_failure_t failure = try_query_string_value(key, name, out, stored)) failure.raise(name);
  if (type != nullptr) *type = stored;
}

void query_string_value(HKEY key, const std::u16string& name, std::u16string& out, const std::u16string& default_value,
                        DWORD* type) {
  try {
    DWORD stored = REG_NONE;
    if (!try_query_string_value(key, name, out, stored)) {
      if (type != nullptr) *type = stored;
      return;
    }
  } catch (...) {
  }
  out = default_value;
}

void set_dword_value(HKEY key, const std::u16string& name, uint32_t value) {
  const BYTE data[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                        static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
  detail::check_regkey_result(
      name, RegSetValueExW(key, plat::wstr(name.c_str()), 0, REG_DWORD, data, sizeof(data)));
}

void set_string_value(HKEY key, const std::u16string& name, const std::u16string& value, DWORD type) {
  if (!is_string_type(type))
    KERN_THROW(BUG_exception, "wrong type for win::set_string_value");
  if (value.size() > (UINT32_MAX - sizeof(char16_t)) / sizeof(char16_t))
    detail::check_regkey_result(name, ERROR_INVALID_PARAMETER);
  const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(char16_t));
  detail::check_regkey_result(
      name, RegSetValueExW(key, plat::wstr(name.c_str()), 0, type,
                           reinterpret_cast<const BYTE*>(value.c_str()), bytes));
}

}  // namespace win
