// The registry key owner: type rules, failure kinds and their reasons, the
// with-default forms, and ownership of the handle.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cerrno>
#include <string>
#include <utility>

#include "kern/exceptions.h"
#include "kern/regkey.h"
#include "platform/win32.h"
#include "tests/support/registry_fixture.h"
#include "tests/support/registry_values.h"
#include "tests/support/system_text.h"

namespace {

using test_support::system_text;

const std::string not_found = system_text(ERROR_FILE_NOT_FOUND, "The system cannot find the file specified");

const std::u16string key_path = u"SOFTWARE\\VexorLabs\\REDIVEVE\\Settings";

class regkey : public ::testing::Test {
 protected:
  void SetUp() override {
    writer.create(HKEY_LOCAL_MACHINE, key_path, KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY);
  }
  void set_raw(const char16_t* name, DWORD type, const std::string& bytes) {
    ASSERT_EQ(test_support::set_raw(writer.get(), name, type, bytes), 0);
  }
  std::string get_raw(const char16_t* name, DWORD& type) {
    const auto value = test_support::reg_value(writer.get(), name);
    if (!value) return "<missing>";
    type = value->type;
    return value->bytes;
  }
  test_support::temp_store_t store;
  win::regkey_t writer;
};

TEST_F(regkey, a_dword_read_as_string_and_a_string_read_as_number_are_wrong_types) {
  win::set_dword_value(writer.get(), u"Port", 2193);
  win::set_string_value(writer.get(), u"Name", u"abc", REG_SZ);
  std::u16string text;
  try {
    win::query_string_value(writer.get(), u"Port", text);
    FAIL() << "no exception";
  } catch (const win::regkey_wrong_type_exception_shell_t& e) {
    EXPECT_STREQ(e.what(), "requested (1) registry type does not match (4)");
  }
  try {
    win::query_dword_value(writer.get(), u"Name");
    FAIL() << "no exception";
  } catch (const win::regkey_wrong_type_exception_shell_t& e) {
    EXPECT_STREQ(e.what(), "requested (4) registry type does not match (1)");
  }
  DWORD type = REG_BINARY;
  EXPECT_THROW(win::check_value_type_and_get_size(writer.get(), u"Name", type),
               win::regkey_wrong_type_exception_shell_t);
  // The with-default forms give the default instead.
  EXPECT_EQ(win::query_dword_value(writer.get(), u"Name", 77u), 77u);
  win::query_string_value(writer.get(), u"Port", text, u"fallback");
  EXPECT_EQ(text, u"fallback");
}

TEST_F(regkey, string_requests_accept_the_three_string_types_and_report_the_stored_one) {
  win::set_string_value(writer.get(), u"Plain", u"p", REG_SZ);
  win::set_string_value(writer.get(), u"Expand", u"%SystemRoot%\\x", REG_EXPAND_SZ);
  win::set_string_value(writer.get(), u"Multi", std::u16string(u"one\0two\0", 8), REG_MULTI_SZ);
  std::u16string text;
  DWORD type = 0;
  win::query_string_value(writer.get(), u"Plain", text, &type);
  EXPECT_EQ(text, u"p");
  EXPECT_EQ(type, REG_SZ);
  win::query_string_value(writer.get(), u"Expand", text, &type);
  EXPECT_EQ(text, u"%SystemRoot%\\x");  // not expanded
  EXPECT_EQ(type, REG_EXPAND_SZ);
  win::query_string_value(writer.get(), u"Multi", text, &type);
  EXPECT_EQ(text, std::u16string(u"one\0two\0", 8));  // whole, one NUL removed
  EXPECT_EQ(type, REG_MULTI_SZ);
  DWORD requested = REG_SZ;
  EXPECT_EQ(win::check_value_type_and_get_size(writer.get(), u"Expand", requested), 30u);  // 15 units
  EXPECT_EQ(requested, REG_EXPAND_SZ);
}

TEST_F(regkey, strings_with_and_without_their_nul_read_the_same) {
  set_raw(u"With", REG_SZ, std::string("h\0i\0\0\0", 6));
  set_raw(u"Without", REG_SZ, std::string("h\0i\0", 4));
  set_raw(u"Empty", REG_SZ, std::string());
  set_raw(u"Odd", REG_SZ, std::string("h\0i", 3));
  std::u16string with, without, empty = u"x", odd;
  win::query_string_value(writer.get(), u"With", with);
  win::query_string_value(writer.get(), u"Without", without);
  win::query_string_value(writer.get(), u"Empty", empty);
  win::query_string_value(writer.get(), u"Odd", odd);
  EXPECT_EQ(with, u"hi");
  EXPECT_EQ(without, u"hi");
  EXPECT_EQ(empty, u"");
  EXPECT_EQ(odd, u"h");  // the odd last byte is no character
}

TEST_F(regkey, written_values_have_the_documented_bytes_and_read_back_unchanged) {
  win::set_string_value(writer.get(), u"Name", u"server.example", REG_SZ);
  win::set_dword_value(writer.get(), u"Port", 0x01020304u);
  DWORD type = 0;
  const std::u16string expected = u"server.example";
  EXPECT_EQ(get_raw(u"Name", type),
            std::string(reinterpret_cast<const char*>(expected.c_str()), expected.size() * 2 + 2));
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(get_raw(u"Port", type), std::string("\x04\x03\x02\x01", 4));
  EXPECT_EQ(type, REG_DWORD);
  std::u16string back;
  win::query_string_value(writer.get(), u"Name", back);
  EXPECT_EQ(back, expected);
  EXPECT_EQ(win::query_dword_value(writer.get(), u"Port"), 0x01020304u);
}

TEST_F(regkey, a_missing_value_throws_not_exists_naming_it_unless_a_default_is_given) {
  EXPECT_EQ(win::query_dword_value(writer.get(), u"Absent", 5u), 5u);
  std::u16string text;
  win::query_string_value(writer.get(), u"Absent", text, u"dflt");
  EXPECT_EQ(text, u"dflt");
  errno = 0;
  try {
    win::query_dword_value(writer.get(), u"Absent");
    FAIL() << "no exception";
  } catch (const win::regkey_not_exists_exception_shell_t& e) {
    EXPECT_EQ(std::string(e.what()), "Absent: " + not_found + " (code=2)");
  }
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(errno, 0);
  try {
    win::query_string_value(writer.get(), u"Absent", text);
    FAIL() << "no exception";
  } catch (const win::regkey_not_exists_exception_shell_t& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Absent: ", 0), 0u) << e.what();
  }
}

TEST_F(regkey, opening_a_missing_key_names_the_key) {
  win::regkey_t key;
  errno = 0;
  try {
    key.open(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Nowhere", KEY_READ);
    FAIL() << "no exception";
  } catch (const win::regkey_not_exists_exception_shell_t& e) {
    EXPECT_EQ(std::string(e.what()), "SOFTWARE\\Nowhere: " + not_found + " (code=2)");
  }
  EXPECT_EQ(key.get(), nullptr);
}

TEST_F(regkey, other_failures_are_plain_regkey_exceptions_and_an_empty_name_has_no_colon) {
  win::regkey_t nothing;
  errno = 0;
  try {
    win::set_dword_value(nothing.get(), u"", 1);
    FAIL() << "no exception";
  } catch (const win::regkey_access_denied_exception_shell_t&) {
    FAIL() << "wrong kind";
  } catch (const win::regkey_not_exists_exception_shell_t&) {
    FAIL() << "wrong kind";
  } catch (const win::regkey_exception_shell_t& e) {
    EXPECT_EQ(std::string(e.what()), system_text(ERROR_INVALID_HANDLE, "The handle is invalid") + " (code=6)");
  }
}

// The stand-in's store file and its rights: Linux only (Windows keeps rights
// on keys, and its registry files are the system's).
#ifndef _WIN32
TEST_F(regkey, no_rights_on_the_store_means_access_denied) {
  win::set_dword_value(writer.get(), u"Port", 1);
  writer.reset();
  ASSERT_EQ(chmod(store.path().c_str(), 0444), 0);
  win::regkey_t key;
  try {
    key.create(HKEY_LOCAL_MACHINE, key_path, KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY);
    FAIL() << "no exception";
  } catch (const win::regkey_access_denied_exception_shell_t& e) {
    EXPECT_NE(std::string(e.what()).find("Access is denied (code=5)"), std::string::npos);
  }
  EXPECT_THROW(key.open(HKEY_LOCAL_MACHINE, key_path, KEY_WRITE),
               win::regkey_access_denied_exception_shell_t);
  key.open(HKEY_LOCAL_MACHINE, key_path, KEY_READ);
  EXPECT_EQ(win::query_dword_value(key.get(), u"Port"), 1u);
  EXPECT_THROW(win::set_dword_value(key.get(), u"Port", 2), win::regkey_access_denied_exception_shell_t);
  ASSERT_EQ(chmod(store.path().c_str(), 0000), 0);
  win::regkey_t denied;
  EXPECT_THROW(denied.open(HKEY_LOCAL_MACHINE, key_path, KEY_READ),
               win::regkey_access_denied_exception_shell_t);
}

TEST_F(regkey, a_corrupt_store_is_a_regkey_exception) {
  writer.reset();
  test_support::write_file(store.path(), "definitely not a database");
  win::regkey_t key;
  errno = 0;  // the reason carries errno too when it is set
  try {
    key.open(HKEY_LOCAL_MACHINE, key_path, KEY_READ);
    FAIL() << "no exception";
  } catch (const win::regkey_exception_shell_t& e) {
    EXPECT_STREQ(e.what(), "SOFTWARE\\VexorLabs\\REDIVEVE\\Settings: The configuration registry "
                           "database is corrupt (code=1009)");
  }
}
#endif

TEST_F(regkey, set_string_value_refuses_a_non_string_type_before_touching_the_registry) {
  try {
    win::set_string_value(writer.get(), u"Name", u"abc", REG_DWORD);
    FAIL() << "no exception";
  } catch (const BUG_exception_shell_t& e) {
    EXPECT_STREQ(e.what(), "wrong type for win::set_string_value");
  }
  DWORD type = 0;
  EXPECT_EQ(get_raw(u"Name", type), "<missing>");
}

TEST_F(regkey, a_dword_of_the_wrong_size_is_not_read_as_a_number) {
  set_raw(u"Short", REG_DWORD, std::string("\x01\x02", 2));
  set_raw(u"Long", REG_DWORD, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8));
  const std::pair<const char16_t*, std::string> cases[] = {{u"Short", "Short: a REG_DWORD value of 2 bytes"},
                                                           {u"Long", "Long: a REG_DWORD value of 8 bytes"}};
  for (const auto& [name, expected] : cases) {
    try {
      win::query_dword_value(writer.get(), name);
      ADD_FAILURE() << "no exception";
    } catch (const win::regkey_exception_shell_t& e) {
      EXPECT_EQ(e.what(), expected);
    }
    EXPECT_EQ(win::query_dword_value(writer.get(), name, 9u), 9u);
  }
}

TEST_F(regkey, the_owner_closes_its_key_the_queries_do_not) {
  HKEY first = nullptr;
  {
    win::regkey_t owner;
    owner.open(HKEY_LOCAL_MACHINE, key_path, KEY_READ);
    first = owner.get();
    owner.open(HKEY_LOCAL_MACHINE, u"SOFTWARE", KEY_READ);  // replaces and closes the first
    EXPECT_EQ(RegCloseKey(first), ERROR_INVALID_HANDLE);
    first = owner.get();
  }
  EXPECT_EQ(RegCloseKey(first), ERROR_INVALID_HANDLE);

  HKEY borrowed = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, plat::wstr(key_path.c_str()), 0, KEY_READ, &borrowed), 0);
  // The queries leave a key they are given open.
  EXPECT_EQ(win::query_dword_value(borrowed, u"Missing", 3u), 3u);
  EXPECT_EQ(RegCloseKey(borrowed), ERROR_SUCCESS);
  // A failed open keeps the key held before.
  win::regkey_t keeper;
  keeper.open(HKEY_LOCAL_MACHINE, key_path, KEY_READ);
  const HKEY held = keeper.get();
  EXPECT_THROW(keeper.open(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Nowhere", KEY_READ),
               win::regkey_not_exists_exception_shell_t);
  EXPECT_EQ(keeper.get(), held);
}

}  // namespace
