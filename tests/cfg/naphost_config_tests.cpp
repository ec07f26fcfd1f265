// naphost config in a process of its own, against the store healthcfg is
// registered in: what one process writes the other reads at once.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "base/module_info.h"

#include "common/settings.h"
#include "healthcfg_fixture.h"

namespace test_support {
namespace {

using test_support::run_program;

test_support::run_result_t naphost(const std::vector<std::string>& args, const std::string& input = std::string()) {
  return run_program(test_support::bin_dir() + "/naphost", args, input);
}

// Sets an environment variable for the programs run meanwhile.
class scoped_env_t {
 public:
  scoped_env_t(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    had_ = std::getenv(name) != nullptr;
    setenv(name, value, 1);
  }
  ~scoped_env_t() {
    if (had_)
      setenv(name_, old_.c_str(), 1);
    else
      unsetenv(name_);
  }
  scoped_env_t(const scoped_env_t&) = delete;
  scoped_env_t& operator=(const scoped_env_t&) = delete;

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

using naphost_config = healthcfg_test;

TEST_F(naphost_config, a_setting_written_here_is_read_by_another_process) {
  shv_settings::write("server_name", u"one.example");
  scoped_env_t english("LC_ALL", "en_US.UTF-8");
  auto shown = naphost({"config", "show"});
  ASSERT_EQ(shown.status, 0) << shown.err;
  EXPECT_NE(shown.out.find("\"one.example\""), std::string::npos) << shown.out;
  // Through SetConfig, then the other process's read, no restart between.
  const std::string b = blob();
  std::string changed = b;
  changed[8] = static_cast<char>(0x39);  // port 2105
  changed[9] = static_cast<char>(0x08);
  ASSERT_EQ(config_->SetConfig(static_cast<UINT16>(changed.size()), reinterpret_cast<BYTE*>(changed.data())), S_OK);
  shown = naphost({"config", "show"});
  EXPECT_NE(shown.out.find("ServerPort         2105"), std::string::npos) << shown.out;
}

TEST_F(naphost_config, edit_in_another_process_is_read_here_at_once) {
  scoped_env_t english("LC_ALL", "en_US.UTF-8");
  const auto r = naphost({"config", "edit", "--server", "127.0.0.1", "--port", "2200", "--cache-time", "0", "--disable"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(shv_settings::read_string("server_name"), u"127.0.0.1");
  EXPECT_EQ(shv_settings::read_number("server_port"), 2200u);
  EXPECT_EQ(shv_settings::read_number("cache_time"), 0u);
  EXPECT_EQ(shv_settings::read_number("validate"), 0u);
  const auto again = naphost({"config", "edit", "--enable", "--port", "2201"});
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(shv_settings::read_number("validate"), 1u);
  EXPECT_EQ(shv_settings::read_number("server_port"), 2201u);
  EXPECT_EQ(shv_settings::read_string("server_name"), u"127.0.0.1") << "unnamed fields keep their values";
}

TEST_F(naphost_config, a_rejected_field_is_reported_in_the_threads_language_and_nothing_is_written) {
  shv_settings::write("server_name", u"kept.example");
  const std::string before = blob();
  scoped_env_t german("LC_ALL", "de_DE.UTF-8");
  const auto r = naphost({"config", "edit", "--server", "x", "--port", "65536"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Ung\xC3\xBCltiger Wert angegeben"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("port (--port)"), std::string::npos) << r.err;
  EXPECT_EQ(blob(), before);
  const auto empty = naphost({"config", "edit", "--server", "", "--port", "65536"});
  EXPECT_EQ(empty.status, 1);
  EXPECT_NE(empty.err.find("server address (--server)"), std::string::npos) << empty.err;
}

TEST_F(naphost_config, edit_in_a_language_without_its_own_dialog_uses_the_english_one) {
  scoped_env_t japanese("LC_ALL", "ja_JP.UTF-8");
  const auto r = naphost({"config", "edit", "--server", "h", "--port", "80"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(shv_settings::read_number("server_port"), 80u);
}

// The store file without write bits: the administrator may read, not write.
TEST_F(naphost_config, edit_and_set_into_a_store_that_refuses_writes_fail_and_name_what_was_not_written) {
  shv_settings::write("server_name", u"old.example");
  shv_settings::write("validate", 1u);
  std::string b = blob();
  b[8] = static_cast<char>(0xD0);  // port 2000
  b[9] = static_cast<char>(0x07);
  b[16] = 5;  // cache time 5
  b[17] = b[18] = b[19] = 0;
  ASSERT_EQ(chmod(store_.path().c_str(), 0444), 0);
  scoped_env_t english("LC_ALL", "en_US.UTF-8");
  const auto edit =
      naphost({"config", "edit", "--server", "new.example", "--port", "2000", "--cache-time", "5", "--enable"});
  EXPECT_EQ(edit.status, 1);
  EXPECT_NE(edit.err.find("The settings could not be saved: Access is denied.; not written: server_name, "
                          "server_port, cache_time\n"),
            std::string::npos)
      << edit.err;
  const auto set = naphost({"config", "set"}, b);
  EXPECT_EQ(set.status, 1);
  EXPECT_NE(set.err.find("SetConfig failed with error 0x80070005 (Access is denied (code=5)); not written: "
                         "server_port, cache_time\n"),
            std::string::npos)
      << set.err;
  EXPECT_EQ(shv_settings::read_string("server_name"), u"old.example");
}

TEST_F(naphost_config, get_and_set_move_the_blob_through_files) {
  shv_settings::write("server_name", u"abc");
  const std::string file = store_.dir() + "/blob.bin";
  auto r = naphost({"config", "get", "--out", file});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string saved = test_support::read_file(file);
  EXPECT_EQ(saved, blob());
  EXPECT_EQ(saved.size(), 30u);
  shv_settings::write("server_name", u"other");
  r = naphost({"config", "set", "--in", file});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(shv_settings::read_string("server_name"), u"abc");
  r = naphost({"config", "get"});
  EXPECT_EQ(r.out.substr(0, 12), "02 00 00 00 ");
}

// StaleTime, the registry's only: set alone or after the dialog's OK, shown,
// and kept by the dialog of a configuration; the dialog's address field
// takes a list of servers.
TEST_F(naphost_config, stale_time_is_set_and_shown_and_the_server_may_be_a_list) {
  scoped_env_t english("LC_ALL", "en_US.UTF-8");
  auto r = naphost({"config", "edit", "--stale-time", "600"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(shv_settings::read_number("stale_time"), 600u);
  r = naphost({"config", "edit", "--server", "a.example; 192.0.2.8:2200", "--stale-time", "60"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(shv_settings::read_string("server_name"), u"a.example; 192.0.2.8:2200");
  r = naphost({"config", "show"});
  EXPECT_NE(r.out.find("stale_time       StaleTime          60\n"), std::string::npos) << r.out;
  ASSERT_EQ(naphost({"config", "new", "--config-id", "13"}).status, 0);
  ASSERT_EQ(naphost({"config", "edit", "--config-id", "13", "--stale-time", "5"}).status, 0);
  ASSERT_EQ(naphost({"config", "edit", "--config-id", "13", "--cache-time", "30"}).status, 0);
  r = naphost({"config", "show", "--config-id", "13"});
  EXPECT_NE(r.out.find("stale_time       StaleTime          5\n"), std::string::npos) << r.out;
  EXPECT_EQ(shv_settings::read_number("stale_time"), 60u) << "the default's is its own";
  EXPECT_EQ(naphost({"config", "edit", "--stale-time", "-1"}).status, 2);
}

// A network policy's configuration from another process, as the console
// keeps it: made from the default, its blob moved and edited, then removed.
TEST_F(naphost_config, configurations_of_network_policies_by_id) {
  scoped_env_t english("LC_ALL", "en_US.UTF-8");
  shv_settings::write("server_name", u"office.example");
  const std::string office = blob();
  const std::string file = store_.dir() + "/vpn.bin";
  ASSERT_EQ(naphost({"config", "new", "--config-id", "12"}).status, 0);
  auto r = naphost({"config", "get", "--config-id", "12", "--out", file});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test_support::read_file(file), office) << "a copy of the default";
  r = naphost({"config", "edit", "--config-id", "12", "--server", "vpn.example", "--cache-time", "30"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = naphost({"config", "show", "--config-id", "12"});
  EXPECT_NE(r.out.find("server_name      ServerName         \"vpn.example\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("cache_time       CacheTime          30"), std::string::npos) << r.out;
  EXPECT_EQ(blob(), office) << "the default is untouched";
  ASSERT_EQ(naphost({"config", "set", "--config-id", "12", "--in", file}).status, 0);
  EXPECT_EQ(shv_settings::read_stored(12).server_name, u"office.example");

  r = naphost({"config", "new", "--config-id", "12"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("configuration 12 exists already"), std::string::npos) << r.err;
  ASSERT_EQ(naphost({"config", "delete", "--config-id", "12"}).status, 0);
  for (const char* sub : {"get", "show", "edit", "delete"}) {
    r = naphost({"config", sub, "--config-id", "12"});
    EXPECT_EQ(r.status, 1) << sub;
    EXPECT_NE(r.err.find("configuration 12 does not exist"), std::string::npos) << sub << ": " << r.err;
  }
  r = naphost({"config", "set", "--config-id", "12", "--in", file});
  EXPECT_NE(r.err.find("configuration 12 does not exist"), std::string::npos) << r.err;
  ASSERT_EQ(naphost({"config", "new", "--config-id", "13"}).status, 0);
  ASSERT_EQ(naphost({"config", "delete-all"}).status, 0);
  EXPECT_FALSE(shv_settings::find_stored(13));
  EXPECT_EQ(blob(), office);
  EXPECT_EQ(naphost({"config", "new"}).status, 2) << "new needs an id";
  EXPECT_EQ(naphost({"config", "get", "--config-id", "x"}).status, 2);
}

TEST_F(naphost_config, set_refuses_a_malformed_blob_and_writes_nothing) {
  const auto short_blob = naphost({"config", "set"}, std::string(23, '\0'));
  EXPECT_EQ(short_blob.status, 1);
  EXPECT_NE(short_blob.err.find("0x80070057"), std::string::npos) << short_blob.err;
  const auto huge = naphost({"config", "set"}, std::string(70000, '\0'));
  EXPECT_EQ(huge.status, 1);
  EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, settings_key));
  EXPECT_EQ(naphost({"config", "edit", "--enable", "--disable"}).status, 2);
  EXPECT_EQ(naphost({"config", "frobnicate"}).status, 2);
  EXPECT_EQ(naphost({"config", "edit", "--port"}).status, 2);
}

}  // namespace
}  // namespace test_support

namespace test_support {
namespace {

// A module that cannot bind the NAP utility library refuses to serve: the
// host (a copy of naphost where no Qutil.dll is found) cannot create the
// object, and the module registers nothing either.
TEST_F(naphost_config, a_module_without_the_utility_library_refuses_to_serve) {
  namespace fs = std::filesystem;
  const std::string bin = store_.dir() + "/alone/bin";
  const std::string lib = store_.dir() + "/alone/modules";
  fs::create_directories(bin);
  fs::create_directories(lib);
  fs::copy_file(test_support::bin_dir() + "/naphost", bin + "/naphost");
  fs::copy_file(base_n::module_file_name(module_), lib + "/libhealthcfg.so");
  // The class now names the lonely copy.
  const std::u16string copy = u"" + std::u16string(lib.begin(), lib.end()) + u"/libhealthcfg.so";
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, u"CLSID\\{0C5C9CEC-1FF7-42e3-AC8F-4D9BAE296C5D}\\InprocServer32", 0,
                            nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(copy.c_str()),
                           static_cast<DWORD>((copy.size() + 1) * 2)),
            ERROR_SUCCESS);
  RegCloseKey(key);
  scoped_env_t search("SHV_LIBRARY_PATH", lib.c_str());
  const auto r = run_program(bin + "/naphost", {"config", "get"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot create the configurator (error 0x8000FFFF)"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace test_support
