// Reading and writing the five settings: defaults, log lines, wrong types,
// unknown names, store failures, and a second process that writes.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cerrno>
#include <string>

#include "common/nap_common.h"
#include "common/settings.h"
#include "kern/exceptions.h"
#include "platform/win32.h"
#include "tests/support/capture_logger.h"
#include "tests/support/registry_fixture.h"
#include "tests/support/registry_values.h"
#include "tests/support/system_text.h"

namespace {

using test_support::capture_logger_t;


const char16_t settings_path[] = u"SOFTWARE\\VexorLabs\\REDIVEVE\\Settings";

class settings : public ::testing::Test {
 protected:
  void SetUp() override { errno = 0; }
  // Creates the key, with no values.
  void make_key() {
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, plat::wstr(settings_path), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &k, nullptr),
              0);
    RegCloseKey(k);
  }
  void set_raw(const char16_t* name, DWORD type, const std::string& bytes) {
    ASSERT_EQ(test_support::set_raw(HKEY_LOCAL_MACHINE, settings_path, name, type, bytes), 0);
  }
  // "<type>:<bytes>" of a stored value, or "missing".
  std::string raw(const char16_t* name) {
    const auto value = test_support::reg_value(HKEY_LOCAL_MACHINE, settings_path, name);
    return value ? std::to_string(value->type) + ":" + value->bytes : "missing";
  }
  // The messages logged, one per line of the log.
  static std::string messages(capture_logger_t& log) {
    std::string text;
    for (const std::string& line : log.lines()) {
      EXPECT_NE(line.find(" ERR ["), std::string::npos) << line;  // level 1
      text += capture_logger_t::strip_prefix(line) + "\n";
    }
    return text;
  }
  test_support::temp_store_t store;
};

TEST_F(settings, without_the_key_every_read_gives_its_default_with_one_report) {
  capture_logger_t log;
  EXPECT_EQ(shv_settings::read_number("server_port"), 2193u);
  const std::string reason =
      "  SOFTWARE\\VexorLabs\\REDIVEVE\\Settings: " +
      test_support::system_text(ERROR_FILE_NOT_FOUND, "The system cannot find the file specified") + " (code=2)\n";
  EXPECT_EQ(messages(log),
            "Unable to read numeric nap parameter \"server_port\" because of \n" + reason);
  log.clear();
  EXPECT_EQ(shv_settings::read_number("server_timeout"), 10000u);
  EXPECT_EQ(shv_settings::read_number("cache_time"), 10000u);
  EXPECT_EQ(shv_settings::read_number("validate"), 1u);
  EXPECT_EQ(log.lines().size(), 6u);
  log.clear();
  EXPECT_EQ(shv_settings::read_string("server_name"), u"");
  EXPECT_EQ(messages(log), "Unable to nap parameter \"server_name\" because of \n" + reason);
}

TEST_F(settings, a_missing_value_or_one_of_another_type_gives_the_default_silently) {
  make_key();
  set_raw(u"ServerPort", REG_SZ, std::string("1\0002\0\0\0", 6));
  set_raw(u"ServerName", REG_DWORD, std::string("\1\0\0\0", 4));
  set_raw(u"CacheTime", REG_DWORD, std::string("\1\0", 2));
  capture_logger_t log;
  EXPECT_EQ(shv_settings::read_number("server_port"), 2193u);
  EXPECT_EQ(shv_settings::read_number("server_timeout"), 10000u);
  EXPECT_EQ(shv_settings::read_number("cache_time"), 10000u);
  EXPECT_EQ(shv_settings::read_string("server_name"), u"");
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(settings, stored_values_are_read) {
  set_raw(u"ServerName", REG_SZ, std::string("h\0o\0s\0t\0\0\0", 10));
  set_raw(u"ServerPort", REG_DWORD, std::string("\x50\0\0\0", 4));
  set_raw(u"ValidationEnabled", REG_DWORD, std::string("\0\0\0\0", 4));
  EXPECT_EQ(shv_settings::read_string("server_name"), u"host");
  EXPECT_EQ(shv_settings::read_number("server_port"), 80u);
  EXPECT_EQ(shv_settings::read_number("validate"), 0u);
  // The string setting may be stored as any string type.
  set_raw(u"ServerName", REG_EXPAND_SZ, std::string("%\0h\0%\0", 6));
  EXPECT_EQ(shv_settings::read_string("server_name"), u"%h%");
}

TEST_F(settings, an_unknown_name_is_a_bug_on_reading) {
  capture_logger_t log;
  try {
    shv_settings::read_number("server_Port");
    FAIL() << "no exception";
  } catch (const BUG_exception_shell_t& e) {
    EXPECT_STREQ(e.what(), "unknown numeric nap parameter \"server_Port\"");
  }
  try {
    shv_settings::read_string("servername");
    FAIL() << "no exception";
  } catch (const BUG_exception_shell_t& e) {
    EXPECT_STREQ(e.what(), "unknown string nap parameter \"servername\"");
  }
  // A setting asked for as the other kind is no setting of that kind.
  EXPECT_THROW(shv_settings::read_string("server_port"), BUG_exception_shell_t);
  EXPECT_THROW(shv_settings::read_number("server_name"), BUG_exception_shell_t);
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(settings, writes_store_the_documented_types_and_bytes) {
  capture_logger_t log;
  EXPECT_EQ(shv_settings::write("server_name", u"abc"), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(shv_settings::write("server_port", 443u), static_cast<DWORD>(ERROR_SUCCESS));
  shv_settings::write("validate", 7u);
  EXPECT_EQ(raw(u"ServerName"), std::string("1:a\0b\0c\0\0\0", 10));
  EXPECT_EQ(raw(u"ServerPort"), std::string("4:\xbb\x01\0\0", 6));
  EXPECT_EQ(raw(u"ValidationEnabled"), std::string("4:\x07\0\0\0", 6));
  EXPECT_EQ(shv_settings::read_string("server_name"), u"abc");
  EXPECT_EQ(shv_settings::read_number("server_port"), 443u);
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(settings, a_write_under_an_unknown_name_changes_and_logs_nothing) {
  capture_logger_t log;
  EXPECT_EQ(shv_settings::write("no_such_setting", 5u), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << "not stored";
  shv_settings::write("no_such_setting", u"x");
  // The wrong kind would put a value of the wrong type into the key.
  shv_settings::write("server_port", u"8080");
  shv_settings::write("server_name", 1u);
  EXPECT_TRUE(log.lines().empty());
  EXPECT_TRUE(store.untouched());
}

// A store without rights, and a corrupt one, are the stand-in's store file:
// Linux only (Windows keeps rights on keys, and its registry files are the
// system's).
#ifndef _WIN32
TEST_F(settings, a_failed_write_is_logged_never_thrown_and_changes_nothing) {
  shv_settings::write("server_port", 1000u);
  ASSERT_EQ(chmod(store.path().c_str(), 0444), 0);
  capture_logger_t log;
  EXPECT_EQ(shv_settings::write("server_port", 2000u), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(messages(log),
            "Unable to write numeric nap setting \"server_port\" because of \n"
            "  SOFTWARE\\VexorLabs\\REDIVEVE\\Settings: Access is denied (code=5)\n");
  log.clear();
  EXPECT_NO_THROW(shv_settings::write("server_name", u"x"));
  EXPECT_EQ(messages(log),
            "Unable to write string nap setting \"server_name\" because of \n"
            "  SOFTWARE\\VexorLabs\\REDIVEVE\\Settings: Access is denied (code=5)\n");
  EXPECT_EQ(shv_settings::read_number("server_port"), 1000u);
  EXPECT_EQ(raw(u"ServerName"), "missing");
}

TEST_F(settings, an_unreadable_or_corrupt_store_gives_defaults_with_a_report) {
  shv_settings::write("server_port", 1000u);
  ASSERT_EQ(chmod(store.path().c_str(), 0000), 0);
  capture_logger_t log;
  EXPECT_EQ(shv_settings::read_number("server_port"), 2193u);
  EXPECT_EQ(messages(log),
            "Unable to read numeric nap parameter \"server_port\" because of \n"
            "  SOFTWARE\\VexorLabs\\REDIVEVE\\Settings: Access is denied (code=5)\n");
  ASSERT_EQ(chmod(store.path().c_str(), 0644), 0);
  test_support::write_file(store.path(), std::string(5000, 'x'));
  log.clear();
  errno = 0;
  EXPECT_EQ(shv_settings::read_string("server_name"), u"");
  EXPECT_EQ(messages(log),
            "Unable to nap parameter \"server_name\" because of \n"
            "  SOFTWARE\\VexorLabs\\REDIVEVE\\Settings: The configuration registry database is "
            "corrupt (code=1009)\n");
  log.clear();
  shv_settings::write("cache_time", 5u);
  ASSERT_EQ(log.lines().size(), 2u);
  EXPECT_EQ(log.messages()[0], "Unable to write numeric nap setting \"cache_time\" because of ");
  EXPECT_TRUE(test_support::read_file(store.path()) == std::string(5000, 'x'));
}
#endif

// The configurator's read of the whole set: what is missing is its default,
// a value of another type too; a store that cannot be read is an error.
TEST_F(settings, the_stored_set_has_defaults_for_what_is_missing_and_fails_for_an_unreadable_store) {
  EXPECT_TRUE(shv_settings::read_stored() == shv_settings::default_values()) << "no key";
  shv_settings::write("server_name", u"abc");
  set_raw(u"ServerPort", REG_SZ, std::string("8\0\0\0", 4));
  set_raw(u"CacheTime", REG_DWORD, std::string(8, '\x01'));
  shv_settings::values_t expected = shv_settings::default_values();
  expected.server_name = u"abc";
  EXPECT_TRUE(shv_settings::read_stored() == expected);
#ifndef _WIN32
  ASSERT_EQ(chmod(store.path().c_str(), 0000), 0);
  try {
    shv_settings::read_stored();
    ADD_FAILURE() << "no exception";
  } catch (const napcommon::com_error_t& e) {
    EXPECT_EQ(e.code(), static_cast<HRESULT>(0x80070005));
  }
#endif
}

// Configurations of network policies: a key each below the default one,
// made whole or not at all, never brought back by a late write, and gone
// without touching the default.
TEST_F(settings, configurations_live_below_the_default_and_go_without_it) {
  shv_settings::write("server_name", u"default.example");
  shv_settings::values_t office = shv_settings::default_values();
  office.server_name = u"office.example";
  office.cache_time = 60;
  EXPECT_FALSE(shv_settings::find_stored(7));
  EXPECT_EQ(shv_settings::create_configuration(7, office), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(shv_settings::create_configuration(7, shv_settings::default_values()),
            static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_TRUE(shv_settings::read_stored(7) == office) << "an existing configuration is left as it was";
  EXPECT_EQ(shv_settings::read_string("server_name"), u"default.example");
  // The same value names, in the configuration's own key.
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, plat::wstr(u"SOFTWARE\\VexorLabs\\REDIVEVE\\Settings\\Configurations\\7"),
                          0, KEY_READ, &k),
            0);
  DWORD cache_time = 0, size = sizeof(cache_time);
  EXPECT_EQ(RegQueryValueExW(k, plat::wstr(u"CacheTime"), nullptr, nullptr, reinterpret_cast<LPBYTE>(&cache_time), &size),
            0);
  RegCloseKey(k);
  EXPECT_EQ(cache_time, 60u);
  EXPECT_EQ(shv_settings::write("cache_time", 5u, 7), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(shv_settings::find_stored(7)->cache_time, 5u);

  ASSERT_EQ(shv_settings::create_configuration(8, office), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(shv_settings::delete_configuration(7), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(shv_settings::delete_configuration(7), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  {
    capture_logger_t log;
    EXPECT_EQ(shv_settings::write("cache_time", 5u, 7), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(log.lines().size(), 2u) << "the failed write, one clause a line";
  }
  EXPECT_FALSE(shv_settings::find_stored(7)) << "no late write makes a deleted configuration again";
  try {
    shv_settings::read_stored(7);
    ADD_FAILURE() << "no exception";
  } catch (const napcommon::com_error_t& e) {
    EXPECT_EQ(e.code(), NAP_E_SHV_CONFIG_NOT_FOUND);
  }
  EXPECT_EQ(shv_settings::delete_all_configurations(), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_FALSE(shv_settings::find_stored(8));
  EXPECT_EQ(shv_settings::delete_all_configurations(), static_cast<DWORD>(ERROR_SUCCESS)) << "none left";
  EXPECT_EQ(shv_settings::read_stored().server_name, u"default.example");
  EXPECT_EQ(shv_settings::create_configuration(0, office), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(shv_settings::delete_configuration(0), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// The configurator's process writes, the validator's reads: no state is kept
// between calls, so each read sees the latest write.
TEST_F(settings, a_value_written_by_another_process_is_read_at_once) {
  {
    capture_logger_t quiet;  // the key is not there yet
    EXPECT_EQ(shv_settings::read_number("cache_time"), 10000u);
  }
  const std::string key = "HKLM\\SOFTWARE\\VexorLabs\\REDIVEVE\\Settings";
  for (const char* value : {"30", "45"}) {
    ASSERT_EQ(test_support::run_reg({"add", key, "/v", "CacheTime", "/t", "REG_DWORD", "/d", value,
                                     "/f"})
                  .status,
              0);
    ASSERT_EQ(test_support::run_reg({"add", key, "/v", "ServerName", "/d", value, "/f"}).status, 0);
    EXPECT_EQ(shv_settings::read_number("cache_time"), std::stoul(value));
    EXPECT_EQ(shv_settings::read_string("server_name"), std::u16string(value, value + 2));
  }
}

}  // namespace
