// The registry calls of the stand-in over the SQLite store: key handles, path
// walking, access checks and the Win32 buffer conventions.
#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <type_traits>
#include <unordered_set>
#include <vector>

#include "platform/linux/registry/registry_store.h"
#include "platform/win32.h"

namespace {

using plat_linux::reg::fail;
using plat_linux::reg::failure_t;
using plat_linux::reg::store_t;
using plat_linux::reg::value_t;

constexpr size_t max_key_name = 255;      // characters of one key name
constexpr size_t max_value_name = 16383;  // characters of one value name

constexpr REGSAM write_rights =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER;

// An open key: the store it was opened in, its row, and the rights asked for.
struct key_handle_t {
  std::string store;
  int64_t id;
  REGSAM access;
};

std::mutex& handles_lock() {
  static auto* lock = new std::mutex;  // outlives static destructors that close keys
  return *lock;
}
std::unordered_set<key_handle_t*>& live_handles() {
  static auto* handles = new std::unordered_set<key_handle_t*>;
  return *handles;
}

// What a key argument stands for: a key row, reached from a base row through
// prefix (HKEY_CLASSES_ROOT is SOFTWARE\Classes below the machine root).
struct base_t {
  std::string store;
  int64_t id = store_t::root_id;
  std::vector<std::u16string> prefix;
  REGSAM access = KEY_ALL_ACCESS;
  bool hive = false;
};

base_t resolve(HKEY key) {
  base_t base;
  if (key == HKEY_LOCAL_MACHINE || key == HKEY_CLASSES_ROOT) {
    base.store = plat_linux::reg::current_store_path();
    base.hive = true;
    if (key == HKEY_CLASSES_ROOT) base.prefix = {u"SOFTWARE", u"Classes"};
    return base;
  }
  auto* handle = reinterpret_cast<key_handle_t*>(key);
  std::lock_guard<std::mutex> guard(handles_lock());
  if (key == nullptr || live_handles().count(handle) == 0) fail(ERROR_INVALID_HANDLE);
  base.store = handle->store;
  base.id = handle->id;
  base.access = handle->access;
  return base;
}

void require(const base_t& base, REGSAM rights) {
  if ((base.access & rights) != rights) fail(ERROR_ACCESS_DENIED);
}

// Generic rights become key rights; MAXIMUM_ALLOWED is all the store allows.
REGSAM normalize(REGSAM desired, const std::string& store) {
  REGSAM sam = desired & ~(KEY_WOW64_64KEY | KEY_WOW64_32KEY);
  if (sam & GENERIC_READ) sam |= KEY_READ;
  if (sam & GENERIC_WRITE) sam |= KEY_WRITE;
  if (sam & GENERIC_EXECUTE) sam |= KEY_EXECUTE;
  if (sam & GENERIC_ALL) sam |= KEY_ALL_ACCESS;
  if (sam & MAXIMUM_ALLOWED)
    sam |= plat_linux::reg::store_writable(store) ? KEY_ALL_ACCESS : KEY_READ;
  return sam & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL | MAXIMUM_ALLOWED);
}

std::u16string name_of(LPCWSTR name, size_t limit) {
  if (name == nullptr) return std::u16string();
  std::u16string text(name);
  if (text.size() > limit) fail(ERROR_INVALID_PARAMETER);
  return text;
}

// "A\B\C" into its names; one trailing backslash is allowed, an empty name
// elsewhere is a bad path.
std::vector<std::u16string> split_path(LPCWSTR sub_key) {
  std::vector<std::u16string> names;
  if (sub_key == nullptr || *sub_key == u'\0') return names;
  std::u16string path(sub_key);
  if (path.back() == u'\\') path.pop_back();
  size_t start = 0;
  while (true) {
    const size_t at = path.find(u'\\', start);
    const size_t end = at == std::u16string::npos ? path.size() : at;
    if (end == start) fail(ERROR_BAD_PATHNAME);
    if (end - start > max_key_name) fail(ERROR_INVALID_PARAMETER);
    names.push_back(path.substr(start, end - start));
    if (at == std::u16string::npos) break;
    start = at + 1;
  }
  return names;
}

struct walked_t {
  int64_t id;
  bool created;
};

// Follows base's prefix and names; missing keys are created when create is
// given (which needs KEY_CREATE_SUB_KEY on the handle), else ERROR_FILE_NOT_FOUND.
walked_t walk(store_t& store, const base_t& base, const std::vector<std::u16string>& names,
              bool create) {
  if (!store.key_exists(base.id)) fail(ERROR_KEY_DELETED);
  walked_t at{base.id, false};
  const size_t count = base.prefix.size() + names.size();
  for (size_t i = 0; i < count; ++i) {
    const std::u16string& name =
        i < base.prefix.size() ? base.prefix[i] : names[i - base.prefix.size()];
    if (auto child = store.find_child(at.id, name)) {
      at.id = *child;
      continue;
    }
    if (!create) fail(ERROR_FILE_NOT_FOUND);
    if (!base.hive) require(base, KEY_CREATE_SUB_KEY);
    at.id = store.add_child(at.id, name);
    at.created = true;
  }
  return at;
}

// Reads through an open key take the rights it was opened with, as on
// Windows, where access is checked when a key is opened; from a root key the
// file's permissions are checked again.
store_t::access_t read_access(const base_t& base) {
  return base.hive ? store_t::access_t::read : store_t::access_t::handle_read;
}

HKEY new_handle(const std::string& store, int64_t id, REGSAM access) {
  auto* handle = new key_handle_t{store, id, access};
  try {
    std::lock_guard<std::mutex> guard(handles_lock());
    live_handles().insert(handle);
  } catch (...) {
    delete handle;
    throw;
  }
  return reinterpret_cast<HKEY>(handle);
}

// Runs one call: failures become its result code (also the last error); errno
// is left as found, as the registry calls do not touch the C runtime's. A body
// may also return its result: an expected outcome (a value not there, asked
// for on every request) is cheaper returned than thrown.
template <class F>
LSTATUS run_call(F&& body) {
  const int saved_errno = errno;
  LSTATUS result = ERROR_SUCCESS;
  try {
    if constexpr (std::is_same_v<decltype(body()), LSTATUS>)
      result = body();
    else
      body();
  } catch (const failure_t& failure) {
    result = failure.code;
  } catch (const std::bad_alloc&) {
    result = ERROR_NOT_ENOUGH_MEMORY;
  } catch (...) {
    result = ERROR_REGISTRY_IO_FAILED;
  }
  errno = saved_errno;
  if (result != ERROR_SUCCESS) SetLastError(static_cast<DWORD>(result));
  return result;
}

// Copies data into a caller's buffer with the Win32 size conventions: a null
// buffer asks for the size only; a small one gets ERROR_MORE_DATA.
void copy_data(const std::string& data, LPBYTE buffer, LPDWORD size) {
  if (buffer != nullptr && size == nullptr) fail(ERROR_INVALID_PARAMETER);
  if (size == nullptr) return;
  const DWORD room = *size;
  *size = static_cast<DWORD>(data.size());
  if (buffer == nullptr) return;
  if (room < data.size()) fail(ERROR_MORE_DATA);
  if (!data.empty()) std::memcpy(buffer, data.data(), data.size());
}

// Copies a name and its NUL; length in: room in characters, out: characters
// without the NUL.
void copy_name(const std::u16string& name, LPWSTR buffer, LPDWORD length) {
  if (buffer == nullptr || length == nullptr) fail(ERROR_INVALID_PARAMETER);
  if (*length <= name.size()) fail(ERROR_MORE_DATA);
  name.copy(buffer, name.size());
  buffer[name.size()] = u'\0';
  *length = static_cast<DWORD>(name.size());
}

}  // namespace

LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR sub_key, DWORD options, REGSAM desired, PHKEY result) {
  (void)options;
  return run_call([&] {
    if (result == nullptr) fail(ERROR_INVALID_PARAMETER);
    *result = nullptr;
    const base_t base = resolve(key);
    const std::vector<std::u16string> names = split_path(sub_key);
    const REGSAM sam = normalize(desired, base.store);
    store_t store(base.store, store_t::access_t::read);
    const walked_t found = walk(store, base, names, false);
    store.commit();
    if ((sam & write_rights) && !plat_linux::reg::store_writable(base.store))
      fail(ERROR_ACCESS_DENIED);
    *result = new_handle(base.store, found.id, sam);
  });
}

LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR sub_key, DWORD reserved, LPWSTR class_name,
                        DWORD options, REGSAM desired, const LPSECURITY_ATTRIBUTES security,
                        PHKEY result, LPDWORD disposition) {
  (void)class_name;
  (void)security;
  return run_call([&] {
    if (result == nullptr || sub_key == nullptr || reserved != 0) fail(ERROR_INVALID_PARAMETER);
    *result = nullptr;
    // Volatile keys (gone at the next start) are not kept apart here.
    if (options != REG_OPTION_NON_VOLATILE) fail(ERROR_INVALID_PARAMETER);
    const base_t base = resolve(key);
    const std::vector<std::u16string> names = split_path(sub_key);
    const REGSAM sam = normalize(desired, base.store);
    const bool writable = plat_linux::reg::store_writable(base.store);
    if ((sam & write_rights) && !writable) fail(ERROR_ACCESS_DENIED);
    walked_t at{};
    if (!writable) {
      // An existing key opens for reading even in a store nobody may change.
      store_t store(base.store, store_t::access_t::read);
      try {
        at = walk(store, base, names, false);
      } catch (const failure_t& failure) {
        fail(failure.code == ERROR_FILE_NOT_FOUND ? ERROR_ACCESS_DENIED : failure.code);
      }
      store.commit();
    } else {
      store_t store(base.store, store_t::access_t::write);
      at = walk(store, base, names, true);
      store.commit();
    }
    *result = new_handle(base.store, at.id, sam);
    if (disposition != nullptr)
      *disposition = at.created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  });
}

LSTATUS RegCloseKey(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE || key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER ||
      key == HKEY_USERS)
    return ERROR_SUCCESS;
  return run_call([&] {
    auto* handle = reinterpret_cast<key_handle_t*>(key);
    {
      std::lock_guard<std::mutex> guard(handles_lock());
      if (key == nullptr || live_handles().erase(handle) == 0) fail(ERROR_INVALID_HANDLE);
    }
    delete handle;
  });
}

LSTATUS RegQueryValueExW(HKEY key, LPCWSTR value_name, LPDWORD reserved, LPDWORD type,
                         LPBYTE data, LPDWORD data_size) {
  return run_call([&] {
    if (reserved != nullptr) fail(ERROR_INVALID_PARAMETER);
    if (data != nullptr && data_size == nullptr) fail(ERROR_INVALID_PARAMETER);
    const base_t base = resolve(key);
    require(base, KEY_QUERY_VALUE);
    const std::u16string name = name_of(value_name, max_value_name);
    store_t store(base.store, read_access(base));
    const walked_t at = walk(store, base, {}, false);
    const std::optional<value_t> value = store.find_value(at.id, name);
    store.commit();
    if (!value) return static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);
    if (type != nullptr) *type = value->type;
    copy_data(value->data, data, data_size);
    return static_cast<LSTATUS>(ERROR_SUCCESS);
  });
}

LSTATUS RegSetValueExW(HKEY key, LPCWSTR value_name, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD data_size) {
  return run_call([&] {
    if (reserved != 0) fail(ERROR_INVALID_PARAMETER);
    if (data == nullptr && data_size != 0) fail(ERROR_NOACCESS);
    const base_t base = resolve(key);
    require(base, KEY_SET_VALUE);
    const std::u16string name = name_of(value_name, max_value_name);
    store_t store(base.store, store_t::access_t::write);
    const walked_t at = walk(store, base, {}, false);
    store.set_value(at.id, name, type, data, data_size);
    store.commit();
  });
}

LSTATUS RegDeleteValueW(HKEY key, LPCWSTR value_name) {
  return run_call([&] {
    const base_t base = resolve(key);
    require(base, KEY_SET_VALUE);
    const std::u16string name = name_of(value_name, max_value_name);
    store_t store(base.store, store_t::access_t::write);
    const walked_t at = walk(store, base, {}, false);
    if (!store.delete_value(at.id, name)) fail(ERROR_FILE_NOT_FOUND);
    store.commit();
  });
}

LSTATUS RegDeleteTreeW(HKEY key, LPCWSTR sub_key) {
  return run_call([&] {
    const base_t base = resolve(key);
    const std::vector<std::u16string> names = split_path(sub_key);
    if (names.empty()) {
      // Emptying a whole hive is refused, as Windows refuses it for want of
      // rights on its system keys.
      if (base.hive) fail(ERROR_ACCESS_DENIED);
      require(base, DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE);
    }
    store_t store(base.store, store_t::access_t::write);
    const walked_t at = walk(store, base, names, false);
    store.delete_tree(at.id, names.empty());
    store.commit();
  });
}

LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD name_length, LPDWORD reserved,
                      LPWSTR class_name, LPDWORD class_length, PFILETIME last_write) {
  return run_call([&] {
    if (reserved != nullptr || name == nullptr || name_length == nullptr)
      fail(ERROR_INVALID_PARAMETER);
    const base_t base = resolve(key);
    require(base, KEY_ENUMERATE_SUB_KEYS);
    store_t store(base.store, read_access(base));
    const walked_t at = walk(store, base, {}, false);
    const std::optional<std::u16string> child = store.child_at(at.id, index);
    store.commit();
    if (!child) fail(ERROR_NO_MORE_ITEMS);
    copy_name(*child, name, name_length);
    if (class_length != nullptr) {
      if (class_name != nullptr && *class_length > 0) class_name[0] = u'\0';
      *class_length = 0;
    }
    if (last_write != nullptr) *last_write = FILETIME{0, 0};
  });
}

LSTATUS RegEnumValueW(HKEY key, DWORD index, LPWSTR value_name, LPDWORD value_name_length,
                      LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD data_size) {
  return run_call([&] {
    if (reserved != nullptr || value_name == nullptr || value_name_length == nullptr)
      fail(ERROR_INVALID_PARAMETER);
    if (data != nullptr && data_size == nullptr) fail(ERROR_INVALID_PARAMETER);
    const base_t base = resolve(key);
    require(base, KEY_QUERY_VALUE);
    store_t store(base.store, read_access(base));
    const walked_t at = walk(store, base, {}, false);
    const std::optional<value_t> value = store.value_at(at.id, index);
    store.commit();
    if (!value) fail(ERROR_NO_MORE_ITEMS);
    copy_name(value->name, value_name, value_name_length);
    if (type != nullptr) *type = value->type;
    copy_data(value->data, data, data_size);
  });
}
