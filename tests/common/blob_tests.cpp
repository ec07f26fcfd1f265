// The configuration blob: its bytes from load, and every check save makes
// before writing anything.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "common/settings.h"
#include "kern/exceptions.h"
#include "platform/win32.h"
#include "tests/support/capture_logger.h"
#include "tests/support/registry_fixture.h"

namespace {

using test_support::capture_logger_t;

std::string u32(uint32_t v) {
  return std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                     static_cast<char>((v >> 16) & 0xFF), static_cast<char>((v >> 24) & 0xFF)};
}

std::string header(uint32_t version, uint32_t name_length, uint32_t port, uint32_t timeout,
                   uint32_t cache, uint32_t validate) {
  return u32(version) + u32(name_length) + u32(port) + u32(timeout) + u32(cache) + u32(validate);
}

std::string bug_text(const std::string& blob) {
  try {
    shv_settings::save(lstr_t(blob.data(), blob.size()));
  } catch (const BUG_exception_shell_t& e) {
    return e.what();
  }
  return "no exception";
}

class blob : public ::testing::Test {
 protected:
  void SetUp() override { errno = 0; }
  test_support::temp_store_t store;
};

TEST_F(blob, load_of_the_defaults_is_the_24_byte_header) {
  capture_logger_t quiet;  // five reports of the missing key
  std::string out = "previous contents";
  shv_settings::load(out);
  EXPECT_EQ(out, header(2, 0, 2193, 10000, 10000, 1));
  EXPECT_EQ(out.size(), 24u);
  EXPECT_EQ(quiet.lines().size(), 10u);  // five reports of two lines
}

TEST_F(blob, load_appends_the_server_name_in_utf16le) {
  shv_settings::write("server_name", u"abc");
  shv_settings::write("server_port", 0x0A0B0C0Du);
  shv_settings::write("server_timeout", 1u);
  shv_settings::write("cache_time", 0xFFFFFFFFu);
  shv_settings::write("validate", 0u);
  std::string out;
  shv_settings::load(out);
  ASSERT_EQ(out.size(), 30u);
  EXPECT_EQ(out, header(2, 6, 0x0A0B0C0Du, 1, 0xFFFFFFFFu, 0) + std::string("a\0b\0c\0", 6));
  // Code units above 0xFF keep both bytes.
  shv_settings::write("server_name", u"\u00e9\u4e2d");
  shv_settings::load(out);
  EXPECT_EQ(out.substr(4, 4), u32(4));
  EXPECT_EQ(out.substr(24), std::string("\xe9\x00\x2d\x4e", 4));
}

TEST_F(blob, save_writes_all_five_settings_as_they_stand) {
  const std::string in = header(2, 8, 8080, 500, 60, 7) + std::string("h\0o\0s\0t\0", 8);
  shv_settings::save(lstr_t(in.data(), in.size()));
  EXPECT_EQ(shv_settings::read_string("server_name"), u"host");
  EXPECT_EQ(shv_settings::read_number("server_port"), 8080u);
  EXPECT_EQ(shv_settings::read_number("server_timeout"), 500u);
  EXPECT_EQ(shv_settings::read_number("cache_time"), 60u);
  EXPECT_EQ(shv_settings::read_number("validate"), 7u);  // not reduced to 1
  std::string out;
  shv_settings::load(out);
  EXPECT_EQ(out, in);
  // An empty name is stored as an empty string.
  const std::string empty = header(2, 0, 1, 2, 3, 4);
  shv_settings::save(lstr_t(empty.data(), empty.size()));
  shv_settings::load(out);
  EXPECT_EQ(out, empty);
}

// StaleTime lives in the registry only: the blob neither carries it nor,
// saved, takes it away, in the settings key or in a configuration's.
TEST_F(blob, stale_time_is_kept_out_of_the_blob_and_kept_by_a_save) {
  EXPECT_EQ(shv_settings::read_stored().stale_time, 0u) << "the default";
  ASSERT_EQ(shv_settings::create_configuration(9, shv_settings::default_values()), static_cast<DWORD>(ERROR_SUCCESS));
  for (const uint32_t config : {0u, 9u}) {
    ASSERT_EQ(shv_settings::write("stale_time", 600u, config), static_cast<DWORD>(ERROR_SUCCESS));
    const std::string in = header(2, 0, 1, 2, 3, 4);
    EXPECT_EQ(shv_settings::save(lstr_t(in.data(), in.size()), config).error, static_cast<DWORD>(ERROR_SUCCESS));
    const shv_settings::values_t stored = shv_settings::read_stored(config);
    EXPECT_EQ(stored.stale_time, 600u) << config;
    EXPECT_EQ(stored.cache_time, 3u) << config;
    EXPECT_EQ(shv_settings::to_blob(stored), in) << config;
  }
  EXPECT_EQ(shv_settings::read_number("stale_time"), 600u);
}

TEST_F(blob, malformed_blobs_raise_and_write_nothing) {
  const std::string good = header(2, 2, 1, 2, 3, 4) + std::string("x\0", 2);
  const struct {
    std::string bytes;
    const char* text;
  } cases[] = {
      {std::string(), "size mismatch"},
      {good.substr(0, 23), "size mismatch"},
      {header(2, 0, 1, 2, 3, 4).substr(0, 23), "size mismatch"},
      {header(2, 4, 1, 2, 3, 4) + "ab", "size mismatch"},          // name shorter than said
      {good + "extra", "size mismatch"},                            // oversized
      {header(1, 4, 1, 2, 3, 4) + "ab", "size mismatch"},           // sizes first, then version
      {header(2, 0xFFFFFFFFu, 1, 2, 3, 4) + "ab", "size mismatch"}, // no overflow
      {header(1, 2, 1, 2, 3, 4) + std::string("x\0", 2), "unsupported version"},
      {header(3, 0, 1, 2, 3, 4), "unsupported version"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(bug_text(c.bytes), c.text) << c.bytes.size() << " bytes";
  }
  EXPECT_TRUE(store.untouched());
  // A null slice is no blob either.
  EXPECT_THROW(shv_settings::save(lstr_t()), BUG_exception_shell_t);
}

TEST_F(blob, an_odd_name_length_drops_the_last_byte) {
  const std::string in = header(2, 5, 1, 2, 3, 4) + std::string("a\0b\0c", 5);
  shv_settings::save(lstr_t(in.data(), in.size()));
  EXPECT_EQ(shv_settings::read_string("server_name"), u"ab");
  EXPECT_EQ(shv_settings::read_number("validate"), 4u);
}

// A read-only store is the stand-in's store file: Linux only.
#ifndef _WIN32
TEST_F(blob, a_save_into_a_read_only_store_logs_the_refused_write_and_keeps_the_old_values) {
  const std::string first = header(2, 2, 10, 20, 30, 1) + std::string("a\0", 2);
  shv_settings::save(lstr_t(first.data(), first.size()));
  ASSERT_EQ(chmod(store.path().c_str(), 0444), 0);
  capture_logger_t log;
  const std::string second = header(2, 2, 11, 21, 31, 0) + std::string("b\0", 2);
  const shv_settings::write_report_t report = shv_settings::save(lstr_t(second.data(), second.size()));
  EXPECT_EQ(report.error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_STREQ(report.failed, "server_name");
  EXPECT_TRUE(report.put_back.empty());
  // One two-line report, for the first write: the rest of the set is not tried.
  ASSERT_EQ(log.lines().size(), 2u);
  EXPECT_EQ(log.messages()[0], "Unable to write string nap setting \"server_name\" because of ");
  std::string out;
  shv_settings::load(out);
  EXPECT_EQ(out, first);
}
#endif

}  // namespace
