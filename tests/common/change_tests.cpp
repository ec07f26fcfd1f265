// A set of settings is one change: a write the store refuses part-way puts
// back what was already written, and a network policy's configuration counts
// only once it is whole.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/nap_common.h"
#include "common/settings.h"
#include "kern/unicode.h"
#include "platform/win32.h"
#include "tests/support/capture_logger.h"
#include "tests/support/registry_fixture.h"
#include "tests/support/registry_values.h"
#include "tests/support/store_refusals.h"

namespace {

using test_support::capture_logger_t;

using shv_settings::values_t;

values_t make(const char16_t* name, uint32_t port, uint32_t timeout, uint32_t cache, uint32_t validate) {
  values_t v;
  v.server_name = name;
  v.server_port = port;
  v.server_timeout = timeout;
  v.cache_time = cache;
  v.validate = validate;
  return v;
}

const values_t old_values = make(u"old.example", 2193, 777, 300, 1);
const values_t new_values = make(u"new.example", 2000, 1, 5, 0);

std::string names(const std::vector<const char*>& list) {
  std::string text;
  for (const char* name : list) text += std::string(text.empty() ? "" : ", ") + name;
  return text;
}

shv_settings::write_report_t save(const values_t& values, uint32_t config = 0) {
  const std::string blob = shv_settings::to_blob(values);
  return shv_settings::save(lstr_t(blob.data(), blob.size()), config);
}

bool value_exists(uint32_t config, const char16_t* name) {
  return test_support::reg_value(HKEY_LOCAL_MACHINE, shv_settings::configuration_key(config), name).has_value();
}

bool key_exists(uint32_t config) {
  return test_support::key_exists(HKEY_LOCAL_MACHINE, shv_settings::configuration_key(config));
}

class change : public ::testing::Test {
 protected:
  test_support::temp_store_t store;
  test_support::store_refusals_t refusals;  // lifted before the store goes
};

// Never a new server name with the old port: the default configuration and a
// network policy's, as SetConfig and SetConfigToID write them.
TEST_F(change, a_save_refused_part_way_puts_back_what_it_had_written) {
  save(old_values);
  ASSERT_EQ(shv_settings::create_configuration(4, old_values), static_cast<DWORD>(ERROR_SUCCESS));
  refusals.refuse_set(u"ServerPort");
  capture_logger_t log;
  shv_settings::write_report_t report = save(new_values);
  EXPECT_EQ(report.error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_STREQ(report.failed, "server_port");
  EXPECT_EQ(names(report.put_back), "server_name");
  EXPECT_TRUE(shv_settings::read_stored() == old_values) << to_narrow(shv_settings::read_stored().server_name);
  EXPECT_EQ(shv_settings::describe(report), "nothing stored: server_port refused (error 5); put back: server_name");
  EXPECT_EQ(log.count("Unable to", lvl_error), 1u) << "the refused write, nothing tried after it\n" << log.dump();
  report = save(new_values, 4);
  EXPECT_STREQ(report.failed, "server_port");
  EXPECT_TRUE(shv_settings::read_stored(4) == old_values);
}

// A value that was missing goes again; one that cannot be put back is said.
TEST_F(change, a_value_missing_before_is_removed_again_and_one_left_changed_is_reported) {
  shv_settings::write("server_timeout", 777u);
  refusals.refuse_set(u"CacheTime");
  capture_logger_t log;
  save(new_values);
  EXPECT_FALSE(value_exists(0, u"ServerName"));
  EXPECT_FALSE(value_exists(0, u"ServerPort"));
  EXPECT_EQ(shv_settings::read_number("server_timeout"), 777u);
  refusals.refuse_remove(u"ServerName");
  log.clear();
  const shv_settings::write_report_t report = save(new_values);
  EXPECT_EQ(names(report.put_back), "server_timeout, server_port");
  ASSERT_EQ(report.not_put_back.size(), 1u);
  EXPECT_STREQ(report.not_put_back[0].first, "server_name");
  EXPECT_EQ(report.not_put_back[0].second, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(shv_settings::describe(report),
            "stored in part: cache_time refused (error 5); put back: server_timeout, server_port; left as written, "
            "not put back: server_name (error 5)");
  EXPECT_EQ(log.count("Unable to put back nap setting \"server_name\" because of ", lvl_error), 1u) << log.dump();
  EXPECT_EQ(shv_settings::read_string("server_name"), u"new.example") << "as it was left";
  EXPECT_FALSE(value_exists(0, u"ServerPort"));
}

// A creation cut short (or still running) leaves a key without all five
// values: no reader takes it for a configuration, and NewConfig finishes it.
TEST_F(change, a_half_made_configuration_is_none_until_made_whole) {
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, plat::wstr(shv_settings::configuration_key(9).c_str()), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(k);
  ASSERT_EQ(shv_settings::write("server_name", u"half.example", 9), static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_EQ(shv_settings::write("server_port", 1u, 9), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_FALSE(shv_settings::find_stored(9)) << "not a configuration yet";
  EXPECT_THROW(shv_settings::read_stored(9), napcommon::com_error_t);
  EXPECT_EQ(shv_settings::create_configuration(9, old_values), static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_TRUE(shv_settings::find_stored(9));
  EXPECT_TRUE(*shv_settings::find_stored(9) == old_values);
  EXPECT_EQ(shv_settings::create_configuration(9, new_values), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  // A configuration made by an earlier version holds the same five values,
  // and no StaleTime.
  shv_settings::write("validate", 0u, 9);
  HKEY made = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, plat::wstr(shv_settings::configuration_key(9).c_str()), 0,
                          KEY_ALL_ACCESS, &made),
            ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(made, plat::wstr(u"StaleTime")), ERROR_SUCCESS);
  RegCloseKey(made);
  ASSERT_TRUE(shv_settings::find_stored(9)) << "whole without StaleTime";
  EXPECT_EQ(shv_settings::find_stored(9)->validate, 0u);
  EXPECT_EQ(shv_settings::create_configuration(9, new_values), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(save(new_values, 9).error, static_cast<DWORD>(ERROR_SUCCESS)) << "a save into it, too";
}

TEST_F(change, a_creation_refused_part_way_leaves_nothing_or_says_what_it_left) {
  refusals.refuse_set(u"CacheTime");
  capture_logger_t log;
  EXPECT_EQ(shv_settings::create_configuration(10, old_values), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(key_exists(10)) << "cleaned up";
  refusals.refuse_remove(u"ServerName");
  log.clear();
  EXPECT_EQ(shv_settings::create_configuration(10, old_values), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(log.count("Unable to remove the half-made configuration 10 because of ", lvl_error), 1u) << log.dump();
  EXPECT_TRUE(key_exists(10));
  EXPECT_FALSE(shv_settings::find_stored(10)) << "what is left is no configuration";
}

}  // namespace
