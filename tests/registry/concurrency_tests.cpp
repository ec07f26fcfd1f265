// Several processes on one store: writers in their own processes while
// another reads; no update may be lost and no value seen half-written.
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "platform/win32.h"
#include "tests/support/registry_fixture.h"

namespace {

pid_t spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  return pid;
}

int wait_exit(pid_t pid) {
  int status = 0;
  if (pid <= 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST(registry_processes, two_writers_and_a_reader_lose_nothing_and_tear_nothing) {
  test_support::temp_store_t store;
  const std::string hammer = test_support::bin_dir() + "/registry_hammer";
  const std::string key = "SOFTWARE\\VexorLabs\\REDIVEVE\\Settings";
  constexpr int rounds = 150;
  const pid_t a = spawn({hammer, "write", key, "A", std::to_string(rounds)});
  const pid_t b = spawn({hammer, "write", key, "B", std::to_string(rounds)});
  const pid_t r = spawn({hammer, "read", key, "400"});
  ASSERT_GT(a, 0);
  ASSERT_GT(b, 0);
  ASSERT_GT(r, 0);
  // This process writes into the same key meanwhile.
  HKEY k = nullptr;
  for (int i = 0; i < 50; ++i) {
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\VexorLabs\\REDIVEVE\\Settings", 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
              0);
    const DWORD v = static_cast<DWORD>(i);
    ASSERT_EQ(RegSetValueExW(k, u"ServerPort", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4),
              0);
    RegCloseKey(k);
  }
  EXPECT_EQ(wait_exit(a), 0);
  EXPECT_EQ(wait_exit(b), 0);
  EXPECT_EQ(wait_exit(r), 0);

  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\VexorLabs\\REDIVEVE\\Settings", 0,
                          KEY_READ, &k),
            0);
  // Every writer's every value is there; the last ServerPort is ours.
  for (const char* prefix : {"A", "B"}) {
    for (int i = 0; i < rounds; ++i) {
      const std::string name = std::string(prefix) + "_" + std::to_string(i);
      const std::u16string wide(name.begin(), name.end());
      DWORD size = 0;
      EXPECT_EQ(RegQueryValueExW(k, wide.c_str(), nullptr, nullptr, nullptr, &size), 0) << name;
      EXPECT_GT(size, 5u) << name;
    }
  }
  DWORD port = 0;
  DWORD size = 4;
  EXPECT_EQ(RegQueryValueExW(k, u"ServerPort", nullptr, nullptr, reinterpret_cast<LPBYTE>(&port),
                             &size),
            0);
  EXPECT_EQ(port, 49u);
  // 2 x rounds named values, "shared" and ServerPort.
  DWORD count = 0;
  for (;; ++count) {
    char16_t name[32];
    DWORD length = 32;
    if (RegEnumValueW(k, count, name, &length, nullptr, nullptr, nullptr, nullptr) != 0) break;
  }
  EXPECT_EQ(count, static_cast<DWORD>(2 * rounds + 2));
  RegCloseKey(k);
}

TEST(registry_processes, racing_creators_of_one_deep_key_make_it_once) {
  test_support::temp_store_t store;
  const std::string hammer = test_support::bin_dir() + "/registry_hammer";
  std::vector<pid_t> children;
  for (const char* prefix : {"P", "Q", "R"})
    children.push_back(spawn({hammer, "write", "SOFTWARE\\Deep\\Er\\Key", prefix, "20"}));
  for (pid_t child : children) EXPECT_EQ(wait_exit(child), 0);
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Deep\\Er", 0, KEY_READ, &k), 0);
  char16_t name[16];
  DWORD length = 16;
  EXPECT_EQ(RegEnumKeyExW(k, 0, name, &length, nullptr, nullptr, nullptr, nullptr), 0);
  length = 16;
  EXPECT_EQ(RegEnumKeyExW(k, 1, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  RegCloseKey(k);
}

}  // namespace
