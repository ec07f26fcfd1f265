// The store file as the administrator meets it: permissions, damage, files of
// other programs; a failed call changes nothing in it.
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>

#include <string>

#include "platform/win32.h"
#include "tests/support/registry_fixture.h"

namespace {

using test_support::read_file;
using test_support::write_file;

LSTATUS set_text(HKEY key, const char16_t* name, const std::u16string& text) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * 2));
}

std::u16string get_text(HKEY key, const char16_t* name) {
  char16_t buffer[64] = {};
  DWORD size = sizeof(buffer) - 2;
  if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), &size) != 0)
    return u"<failed>";
  return buffer;
}

class store_file : public ::testing::Test {
 protected:
  // The store with SOFTWARE\S holding v = "before".
  void SetUp() override {
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\S", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &k, nullptr),
              0);
    ASSERT_EQ(set_text(k, u"v", u"before"), 0);
    RegCloseKey(k);
  }
  // Every call that needs the store, by result.
  struct results_t {
    LSTATUS open_read, open_write, create, set, delete_value, delete_tree;
  };
  results_t try_everything() {
    results_t r{};
    HKEY k = nullptr;
    r.open_read = RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\S", 0, KEY_READ, &k);
    if (k) RegCloseKey(k);
    k = nullptr;
    r.open_write = RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\S", 0, KEY_WRITE, &k);
    if (k) RegCloseKey(k);
    k = nullptr;
    r.create = RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\S\\new", 0, nullptr, 0,
                               KEY_ALL_ACCESS, nullptr, &k, nullptr);
    if (k) RegCloseKey(k);
    r.set = set_text(HKEY_LOCAL_MACHINE, u"v", u"after");
    r.delete_value = RegDeleteValueW(HKEY_LOCAL_MACHINE, u"v");
    r.delete_tree = RegDeleteTreeW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\S");
    return r;
  }
  test_support::temp_store_t store;
};

TEST_F(store_file, a_read_only_file_is_read_but_never_changed) {
  ASSERT_EQ(chmod(store.path().c_str(), 0444), 0);
  const std::string before = read_file(store.path());
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\S", 0, KEY_READ, &k), 0);
  EXPECT_EQ(get_text(k, u"v"), u"before");
  RegCloseKey(k);
  const results_t r = try_everything();
  EXPECT_EQ(r.open_read, 0);
  EXPECT_EQ(r.open_write, ERROR_ACCESS_DENIED);
  EXPECT_EQ(r.create, ERROR_ACCESS_DENIED);
  EXPECT_EQ(r.set, ERROR_ACCESS_DENIED);
  EXPECT_EQ(r.delete_value, ERROR_ACCESS_DENIED);
  EXPECT_EQ(r.delete_tree, ERROR_ACCESS_DENIED);
  // An existing key still opens through create when only reading is asked.
  DWORD disposition = 0;
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\S", 0, nullptr, 0, KEY_READ, nullptr,
                            &k, &disposition),
            0);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(set_text(k, u"v", u"x"), ERROR_ACCESS_DENIED);
  RegCloseKey(k);
  EXPECT_TRUE(read_file(store.path()) == before) << "the read-only file was changed";
  ASSERT_EQ(chmod(store.path().c_str(), 0644), 0);
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\S", 0, KEY_READ, &k), 0);
  EXPECT_EQ(get_text(k, u"v"), u"before");
  RegCloseKey(k);
}

TEST_F(store_file, a_file_nobody_may_read_denies_every_call) {
  ASSERT_EQ(chmod(store.path().c_str(), 0000), 0);
  const results_t r = try_everything();
  EXPECT_EQ(r.open_read, ERROR_ACCESS_DENIED);
  EXPECT_EQ(r.create, ERROR_ACCESS_DENIED);
  EXPECT_EQ(r.set, ERROR_ACCESS_DENIED);
  ASSERT_EQ(chmod(store.path().c_str(), 0644), 0);
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\S", 0, KEY_READ, &k), 0);
  EXPECT_EQ(get_text(k, u"v"), u"before");
  RegCloseKey(k);
}

TEST_F(store_file, another_user_gets_access_denied_from_the_file_permissions) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
  ASSERT_EQ(chmod(store.dir().c_str(), 0755), 0);
  ASSERT_EQ(chmod(store.path().c_str(), 0644), 0);
  const std::string key = "HKLM\\SOFTWARE\\S";
  // Readable, not writable for others.
  test_support::run_result_t r = test_support::run_reg({"query", key, "/v", "v"}, "", true);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("    v    REG_SZ    before\n"), std::string::npos) << r.out;
  r = test_support::run_reg({"add", key, "/v", "v", "/d", "x", "/f"}, "", true);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ERROR: Access is denied.\n");
  ASSERT_EQ(chmod(store.path().c_str(), 0600), 0);
  r = test_support::run_reg({"query", key}, "", true);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ERROR: Access is denied.\n");
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\S", 0, KEY_READ, &k), 0);
  EXPECT_EQ(get_text(k, u"v"), u"before");
  RegCloseKey(k);
}

TEST_F(store_file, a_damaged_file_gives_an_error_and_stays_as_it_is) {
  const std::string good = read_file(store.path());
  ASSERT_GT(good.size(), 4096u);
  const std::string damaged[] = {
      std::string("this is not a registry store at all\n"),
      good.substr(0, 100),                                    // header cut
      good.substr(0, 16) + std::string(good.size() - 16, '\xA5'),  // pages overwritten
      std::string(8192, '\0').replace(0, 16, "SQLite format 3\0", 16),
  };
  for (const std::string& bytes : damaged) {
    write_file(store.path(), bytes);
    const results_t r = try_everything();
    for (LSTATUS code : {r.open_read, r.open_write, r.create, r.set, r.delete_value, r.delete_tree}) {
      EXPECT_NE(code, ERROR_SUCCESS);
      EXPECT_NE(code, ERROR_FILE_NOT_FOUND);
    }
    EXPECT_EQ(r.open_read, ERROR_BADDB);
    EXPECT_TRUE(read_file(store.path()) == bytes) << "the damaged file was changed";
  }
}

TEST_F(store_file, another_programs_database_is_not_touched) {
  const std::string other = store.dir() + "/other.db";
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE t(x); INSERT INTO t VALUES(1);", nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  const std::string before = read_file(other);
  setenv("SHV_REGISTRY", other.c_str(), 1);
  const results_t r = try_everything();
  EXPECT_EQ(r.open_read, ERROR_BADDB);
  EXPECT_EQ(r.create, ERROR_BADDB);
  EXPECT_EQ(r.set, ERROR_BADDB);
  EXPECT_TRUE(read_file(other) == before) << "the other database was changed";
}

TEST_F(store_file, an_empty_file_is_an_empty_store) {
  write_file(store.path(), "");
  HKEY k = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\S", 0, KEY_READ, &k),
            ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\S", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &k, nullptr),
            0);
  EXPECT_EQ(set_text(k, u"v", u"fresh"), 0);
  EXPECT_EQ(get_text(k, u"v"), u"fresh");
  RegCloseKey(k);
}

TEST_F(store_file, a_directory_in_place_of_the_file_is_an_error) {
  const std::string dir = store.dir() + "/a_directory";
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  setenv("SHV_REGISTRY", dir.c_str(), 1);
  const results_t r = try_everything();
  EXPECT_EQ(r.open_read, ERROR_BADDB);
  EXPECT_EQ(r.set, ERROR_BADDB);
}

}  // namespace
