// The registry calls: keys, values, handles, paths and the Win32 result and
// buffer conventions.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "tests/support/registry_fixture.h"
#include "tests/support/registry_values.h"

namespace {

// An open key for the tests, closed at the end of the scope.
struct key_t {
  HKEY h = nullptr;
  ~key_t() {
    if (h != nullptr) RegCloseKey(h);
  }
};

std::string bytes_of(const std::u16string& text, bool with_nul) {
  std::string out(reinterpret_cast<const char*>(text.data()), text.size() * 2);
  if (with_nul) out.append(2, '\0');
  return out;
}

using test_support::set_raw;

// The value's type and bytes, or the failure code.
LSTATUS get_raw(HKEY key, const char16_t* name, DWORD& type, std::string& data) {
  DWORD size = 0;
  LSTATUS rc = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
  if (rc != ERROR_SUCCESS) return rc;
  data.assign(size, '\0');
  rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(data.data()), &size);
  data.resize(size);
  return rc;
}

class registry_api : public ::testing::Test {
 protected:
  test_support::temp_store_t store;
};

TEST_F(registry_api, create_makes_missing_parents_and_reports_disposition) {
  key_t k;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\A\\B\\C", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &k.h, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  key_t again;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"software\\a\\b\\c", 0, nullptr, 0, KEY_READ,
                            nullptr, &again.h, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  key_t parent;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\A\\B", 0, KEY_READ, &parent.h),
            ERROR_SUCCESS);
}

TEST_F(registry_api, open_of_a_missing_key_gives_2_and_creates_no_store) {
  key_t k;
  k.h = reinterpret_cast<HKEY>(1);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Nothing", 0, KEY_READ, &k.h),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(k.h, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(std::filesystem::exists(store.path()));
}

TEST_F(registry_api, names_are_case_insensitive_and_keep_their_first_spelling) {
  key_t k;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\MixedCase", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &k.h, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(set_raw(k.h, u"ServerPort", REG_DWORD, std::string("\x01\x02\x03\x04", 4)), 0);
  ASSERT_EQ(set_raw(k.h, u"SERVERPORT", REG_DWORD, std::string("\x05\x06\x07\x08", 4)), 0);
  DWORD type = 0;
  std::string data;
  ASSERT_EQ(get_raw(k.h, u"serverport", type, data), ERROR_SUCCESS);
  EXPECT_EQ(data, std::string("\x05\x06\x07\x08", 4));

  char16_t name[64];
  DWORD length = 64;
  ASSERT_EQ(RegEnumValueW(k.h, 0, name, &length, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(std::u16string(name, length), u"ServerPort");
  EXPECT_EQ(RegEnumValueW(k.h, 1, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);

  key_t soft;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"software", 0, KEY_READ, &soft.h), 0);
  length = 64;
  ASSERT_EQ(RegEnumKeyExW(soft.h, 0, name, &length, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(std::u16string(name, length), u"MixedCase");
  // Non-ASCII letters fold too.
  key_t umlaut;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\\u00e4rger", 0, nullptr, 0, KEY_READ,
                            nullptr, &umlaut.h, nullptr),
            0);
  key_t upper;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\\u00c4RGER", 0, KEY_READ, &upper.h), 0);
}

TEST_F(registry_api, values_keep_their_type_and_raw_bytes) {
  key_t k;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Values", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &k.h, nullptr),
            0);
  const struct {
    const char16_t* name;
    DWORD type;
    std::string data;
  } cases[] = {
      {u"sz", REG_SZ, bytes_of(u"hello", true)},
      {u"sz_without_nul", REG_SZ, bytes_of(u"hello", false)},
      {u"expand", REG_EXPAND_SZ, bytes_of(u"%TEMP%\\x", true)},
      {u"multi", REG_MULTI_SZ, bytes_of(std::u16string(u"a\0bc\0\0", 6), false)},
      {u"dword", REG_DWORD, std::string("\x91\x08\x00\x00", 4)},
      {u"binary", REG_BINARY, std::string("\x00\xff\x10\x00\x7f", 5)},
      {u"empty", REG_BINARY, std::string()},
      {u"odd_sz", REG_SZ, std::string("a\0b", 3)},
  };
  for (const auto& c : cases) ASSERT_EQ(set_raw(k.h, c.name, c.type, c.data), 0);
  for (const auto& c : cases) {
    DWORD type = 0;
    std::string data;
    ASSERT_EQ(get_raw(k.h, c.name, type, data), 0);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(data, c.data);
  }
}

TEST_F(registry_api, query_follows_the_buffer_conventions) {
  key_t k;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Buf", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &k.h, nullptr),
            0);
  ASSERT_EQ(set_raw(k.h, u"v", REG_BINARY, "0123456789"), 0);
  DWORD type = 0;
  DWORD size = 0;
  // No buffer: type and size only.
  EXPECT_EQ(RegQueryValueExW(k.h, u"v", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(size, 10u);
  // Too small: ERROR_MORE_DATA, the size needed, the buffer untouched.
  char buffer[16];
  std::memset(buffer, 'x', sizeof(buffer));
  size = 4;
  EXPECT_EQ(RegQueryValueExW(k.h, u"v", nullptr, &type, reinterpret_cast<LPBYTE>(buffer), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(buffer[0], 'x');
  size = 10;
  EXPECT_EQ(RegQueryValueExW(k.h, u"v", nullptr, &type, reinterpret_cast<LPBYTE>(buffer), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(buffer, 10), "0123456789");
  // Nothing asked but existence.
  EXPECT_EQ(RegQueryValueExW(k.h, u"v", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  // A buffer without a size, a reserved argument: bad parameters.
  EXPECT_EQ(RegQueryValueExW(k.h, u"v", nullptr, &type, reinterpret_cast<LPBYTE>(buffer), nullptr),
            ERROR_INVALID_PARAMETER);
  DWORD reserved = 0;
  EXPECT_EQ(RegQueryValueExW(k.h, u"v", &reserved, &type, nullptr, &size), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegQueryValueExW(k.h, u"missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
}

TEST_F(registry_api, the_default_value_has_the_empty_name) {
  key_t k;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Def", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &k.h, nullptr),
            0);
  ASSERT_EQ(set_raw(k.h, nullptr, REG_SZ, bytes_of(u"d", true)), 0);
  DWORD type = 0;
  std::string data;
  ASSERT_EQ(get_raw(k.h, u"", type, data), 0);
  EXPECT_EQ(data, bytes_of(u"d", true));
  EXPECT_EQ(RegDeleteValueW(k.h, u""), 0);
  EXPECT_EQ(get_raw(k.h, nullptr, type, data), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValueW(k.h, nullptr), ERROR_FILE_NOT_FOUND);
}

TEST_F(registry_api, classes_root_is_software_classes_of_the_machine) {
  key_t clsid;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, u"CLSID\\{1}\\InprocServer32", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &clsid.h, nullptr),
            0);
  ASSERT_EQ(set_raw(clsid.h, u"", REG_SZ, bytes_of(u"healthval.dll", true)), 0);
  key_t machine;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\CLSID\\{1}\\InprocServer32", 0,
                          KEY_READ, &machine.h),
            0);
  DWORD type = 0;
  std::string data;
  ASSERT_EQ(get_raw(machine.h, u"", type, data), 0);
  EXPECT_EQ(data, bytes_of(u"healthval.dll", true));
  EXPECT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, u"CLSID\\{1}"), 0);
  key_t gone;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\CLSID\\{1}", 0, KEY_READ,
                          &gone.h),
            ERROR_FILE_NOT_FOUND);
  key_t kept;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, u"CLSID", 0, KEY_READ, &kept.h), 0);
}

TEST_F(registry_api, delete_tree_removes_the_branch_and_nothing_else) {
  for (const char16_t* path : {u"SOFTWARE\\T\\a\\x", u"SOFTWARE\\T\\a\\y\\z", u"SOFTWARE\\T\\b"}) {
    key_t k;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &k.h, nullptr),
              0);
    ASSERT_EQ(set_raw(k.h, u"v", REG_BINARY, "1"), 0);
  }
  key_t held;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\T\\a\\y\\z", 0, KEY_READ, &held.h), 0);
  EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\T\\a"), 0);
  key_t k;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\T\\a", 0, KEY_READ, &k.h),
            ERROR_FILE_NOT_FOUND);
  // A handle to a deleted key stays a handle, to a key marked deleted.
  DWORD type = 0;
  std::string data;
  EXPECT_EQ(get_raw(held.h, u"v", type, data), ERROR_KEY_DELETED);
  key_t b;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\T\\b", 0, KEY_READ, &b.h), 0);
  EXPECT_EQ(get_raw(b.h, u"v", type, data), 0);
  EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\T\\a"), ERROR_FILE_NOT_FOUND);

  // Without a sub-key: the key's values and sub-keys go, the key stays.
  key_t t;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\T", 0, KEY_ALL_ACCESS, &t.h), 0);
  ASSERT_EQ(set_raw(t.h, u"w", REG_BINARY, "2"), 0);
  EXPECT_EQ(RegDeleteTreeW(t.h, nullptr), 0);
  char16_t name[16];
  DWORD length = 16;
  EXPECT_EQ(RegEnumKeyExW(t.h, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(get_raw(t.h, u"w", type, data), ERROR_FILE_NOT_FOUND);
  key_t still;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\T", 0, KEY_READ, &still.h), 0);
  // The hives themselves are not emptied.
  EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, nullptr), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\T", 0, KEY_READ, &k.h), 0);
}

TEST_F(registry_api, enumeration_orders_keys_by_name_and_values_by_first_setting) {
  key_t k;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\E", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &k.h, nullptr),
            0);
  for (const char16_t* name : {u"c", u"A", u"b"}) {
    key_t sub;
    ASSERT_EQ(RegCreateKeyExW(k.h, name, 0, nullptr, 0, KEY_READ, nullptr, &sub.h, nullptr), 0);
    ASSERT_EQ(set_raw(k.h, name, REG_BINARY, "x"), 0);
  }
  std::u16string keys;
  std::u16string values;
  for (DWORD i = 0;; ++i) {
    char16_t name[8];
    DWORD length = 8;
    const LSTATUS rc = RegEnumKeyExW(k.h, i, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(rc, 0);
    keys += std::u16string(name, length);
  }
  for (DWORD i = 0;; ++i) {
    char16_t name[8];
    DWORD length = 8;
    DWORD type = 0;
    BYTE data[4];
    DWORD size = sizeof(data);
    const LSTATUS rc = RegEnumValueW(k.h, i, name, &length, nullptr, &type, data, &size);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(size, 1u);
    values += std::u16string(name, length);
  }
  EXPECT_EQ(keys, u"Abc");
  EXPECT_EQ(values, u"cAb");
  // A name buffer without room for the NUL is too small.
  char16_t small[1];
  DWORD length = 1;
  EXPECT_EQ(RegEnumKeyExW(k.h, 0, small, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
}

TEST_F(registry_api, handles_are_checked_and_closed_once) {
  key_t k;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\H", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &k.h, nullptr),
            0);
  HKEY h = k.h;
  k.h = nullptr;
  EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(h), ERROR_INVALID_HANDLE);
  EXPECT_EQ(set_raw(h, u"v", REG_BINARY, "1"), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  key_t user;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software", 0, KEY_READ, &user.h),
            ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE", 0, KEY_READ, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\H", 1, nullptr, 0, KEY_READ, nullptr,
                            &user.h, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, nullptr, 0, nullptr, 0, KEY_READ, nullptr,
                            &user.h, nullptr),
            ERROR_INVALID_PARAMETER);
}

TEST_F(registry_api, malformed_paths_are_rejected_without_creating_anything) {
  key_t k;
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"\\SOFTWARE\\X", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &k.h, nullptr),
            ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\\\X", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &k.h, nullptr),
            ERROR_BAD_PATHNAME);
  const std::u16string long_name = u"SOFTWARE\\" + std::u16string(256, u'n');
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, long_name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &k.h, nullptr),
            ERROR_INVALID_PARAMETER);
  key_t soft;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE", 0, KEY_READ, &soft.h),
            ERROR_FILE_NOT_FOUND);
  // One trailing backslash is allowed.
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\X\\", 0, nullptr, 0, KEY_READ, nullptr,
                            &k.h, nullptr),
            0);
}

TEST_F(registry_api, a_handle_has_only_the_rights_it_was_opened_with) {
  key_t create;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\R", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &create.h, nullptr),
            0);
  ASSERT_EQ(set_raw(create.h, u"v", REG_BINARY, "old"), 0);
  key_t reader;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\R", 0, KEY_READ, &reader.h), 0);
  EXPECT_EQ(set_raw(reader.h, u"v", REG_BINARY, "new"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValueW(reader.h, u"v"), ERROR_ACCESS_DENIED);
  key_t sub;
  EXPECT_EQ(RegCreateKeyExW(reader.h, u"sub", 0, nullptr, 0, KEY_READ, nullptr, &sub.h, nullptr),
            ERROR_ACCESS_DENIED);
  key_t writer;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\R", 0, KEY_SET_VALUE, &writer.h), 0);
  DWORD type = 0;
  std::string data;
  EXPECT_EQ(get_raw(writer.h, u"v", type, data), ERROR_ACCESS_DENIED);
  ASSERT_EQ(get_raw(reader.h, u"v", type, data), 0);
  EXPECT_EQ(data, "old");
}

TEST_F(registry_api, the_store_is_the_file_named_at_each_call) {
  key_t first;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\One", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &first.h, nullptr),
            0);
  const std::string second_path = store.dir() + "/deeper/dir/second.db";
  setenv("SHV_REGISTRY", second_path.c_str(), 1);
  key_t k;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\One", 0, KEY_READ, &k.h),
            ERROR_FILE_NOT_FOUND);
  // The directory of a new store is made on its first write.
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Two", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &k.h, nullptr),
            0);
  EXPECT_TRUE(std::filesystem::exists(second_path));
  // A handle stays with the store it was opened in.
  EXPECT_EQ(set_raw(first.h, u"v", REG_BINARY, "1"), 0);
  setenv("SHV_REGISTRY", store.path().c_str(), 1);
  key_t back;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Two", 0, KEY_READ, &back.h),
            ERROR_FILE_NOT_FOUND);
  DWORD type = 0;
  std::string data;
  key_t one;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\One", 0, KEY_READ, &one.h), 0);
  EXPECT_EQ(get_raw(one.h, u"v", type, data), 0);
}

TEST_F(registry_api, calls_leave_errno_alone) {
  errno = 1234;
  key_t k;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\None", 0, KEY_READ, &k.h),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(errno, 1234);
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\E", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &k.h, nullptr),
            0);
  EXPECT_EQ(errno, 1234);
}

}  // namespace
