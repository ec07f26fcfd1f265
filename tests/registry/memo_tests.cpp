// Answers a process keeps from its earlier reads never outlive a change: one
// made by another process (through the reg tool) shows on the very next call,
// as does a key deleted or made again under an open handle.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/win32.h"
#include "tests/support/eventually.h"
#include "tests/support/registry_fixture.h"

namespace {

const char key_text[] = "HKLM\\SOFTWARE\\VexorLabs\\Memo";
const char16_t key_path[] = u"SOFTWARE\\VexorLabs\\Memo";

// The DWORD value "V" through a handle: the call's status, and the value.
LSTATUS read_v(HKEY k, DWORD& v) {
  DWORD size = sizeof v;
  return RegQueryValueExW(k, u"V", nullptr, nullptr, reinterpret_cast<LPBYTE>(&v), &size);
}

void set_v_elsewhere(const char* v) {
  ASSERT_EQ(test_support::run_reg({"add", key_text, "/v", "V", "/t", "REG_DWORD", "/d", v, "/f"}).status, 0);
}

TEST(registry_memo, another_processs_changes_show_on_the_next_call) {
  test_support::temp_store_t store;
  set_v_elsewhere("1");
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_path, 0, KEY_READ, &k), 0);
  DWORD v = 0;
  for (int i = 0; i < 3; ++i) {  // read more than once, so that the answer is kept
    ASSERT_EQ(read_v(k, v), 0);
    EXPECT_EQ(v, 1u);
  }
  DWORD size = sizeof v;
  EXPECT_EQ(RegQueryValueExW(k, u"W", nullptr, nullptr, reinterpret_cast<LPBYTE>(&v), &size), ERROR_FILE_NOT_FOUND);

  set_v_elsewhere("2");
  ASSERT_EQ(read_v(k, v), 0);
  EXPECT_EQ(v, 2u);
  ASSERT_EQ(test_support::run_reg({"add", key_text, "/v", "W", "/t", "REG_DWORD", "/d", "7", "/f"}).status, 0);
  size = sizeof v;
  EXPECT_EQ(RegQueryValueExW(k, u"W", nullptr, nullptr, reinterpret_cast<LPBYTE>(&v), &size), 0);
  EXPECT_EQ(v, 7u);

  // The key goes: the open handle and a new open both see it gone.
  ASSERT_EQ(test_support::run_reg({"delete", key_text, "/f"}).status, 0);
  EXPECT_EQ(read_v(k, v), ERROR_KEY_DELETED);
  HKEY again = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_path, 0, KEY_READ, &again), ERROR_FILE_NOT_FOUND);

  // Made again, it is a new key with its own value; the old handle stays dead.
  set_v_elsewhere("3");
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_path, 0, KEY_READ, &again), 0);
  ASSERT_EQ(read_v(again, v), 0);
  EXPECT_EQ(v, 3u);
  EXPECT_EQ(read_v(k, v), ERROR_KEY_DELETED);
  RegCloseKey(again);
  RegCloseKey(k);
}

// A writer that may change the store but not its change counter: the answers
// this process keeps go stale, but for two seconds at most.
TEST(registry_memo, a_change_the_counter_misses_shows_within_two_seconds) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
  test_support::temp_store_t store;
  set_v_elsewhere("1");
  ASSERT_EQ(chmod(store.dir().c_str(), 0777), 0);
  for (const char* suffix : {"", "-wal", "-shm"}) ASSERT_EQ(chmod((store.path() + suffix).c_str(), 0666), 0);
  ASSERT_EQ(chmod((store.path() + "-gen").c_str(), 0644), 0);  // root's alone

  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_path, 0, KEY_READ, &k), 0);
  DWORD v = 0;
  ASSERT_EQ(read_v(k, v), 0);
  ASSERT_EQ(v, 1u);
  const test_support::run_result_t r =
      test_support::run_reg({"add", key_text, "/v", "V", "/t", "REG_DWORD", "/d", "2", "/f"}, "", true);
  ASSERT_EQ(r.status, 0) << r.err;
  test_support::eventually([&] { return read_v(k, v) != 0 || v != 1u; }, std::chrono::milliseconds(2500));
  EXPECT_EQ(v, 2u);
  RegCloseKey(k);
}

TEST(registry_memo, a_new_counter_file_takes_the_stores_permissions) {
  test_support::temp_store_t store;
  set_v_elsewhere("1");
  const std::string counter = store.path() + "-gen";
  ASSERT_EQ(chmod(store.path().c_str(), 0664), 0);
  ASSERT_EQ(unlink(counter.c_str()), 0);
  set_v_elsewhere("2");
  struct stat st;
  ASSERT_EQ(stat(counter.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0664u);
  EXPECT_EQ(st.st_size, 8);
}

TEST(registry_memo, this_processs_own_writes_show_at_once_on_every_thread) {
  test_support::temp_store_t store;
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key_path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr), 0);
  for (DWORD i = 0; i < 50; ++i) {
    ASSERT_EQ(RegSetValueExW(k, u"V", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&i), sizeof i), 0);
    DWORD seen = ~0u;
    LSTATUS status = ~0;
    std::thread reader([&] { status = read_v(k, seen); });
    reader.join();
    ASSERT_EQ(status, 0);
    ASSERT_EQ(seen, i);
    ASSERT_EQ(RegDeleteValueW(k, u"V"), 0);
    EXPECT_EQ(read_v(k, seen), ERROR_FILE_NOT_FOUND);
  }
  RegCloseKey(k);
}

}  // namespace
