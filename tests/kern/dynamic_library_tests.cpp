// Loading libraries by their Windows names, symbols, the "signature" export,
// and the texts of the failures.
#include <gtest/gtest.h>

#include <cerrno>
#include <thread>
#include <vector>

#include "capture_logger.h"
#include "kern/dynamic_library.h"
#include "kern/exceptions.h"
#include "system_text.h"

namespace {

using test_support::capture_logger_t;

TEST(dynamic_library, loads_by_windows_name_and_finds_symbols) {
  capture_logger_t log;
  dynamic_library_t lib;
  lib.init("kern_testlib.dll", KERN_TESTLIB_DIR);
  EXPECT_TRUE(lib.loaded());
  EXPECT_EQ(lib.path(), std::string(KERN_TESTLIB_DIR) + "/kern_testlib.dll");
  auto answer = lib.find_function<int (*)()>("kern_testlib_answer");
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  EXPECT_TRUE(log.contains("Loading library \"" + lib.path() + "\""));
  EXPECT_TRUE(log.contains("kern test library 1.0"));  // the signature, at level 6

  errno = 0;
  EXPECT_EQ(lib.find_symbol("missing_function"), nullptr);
  EXPECT_TRUE(log.contains("Unable to find symbol `missing_function' in library `" + lib.path() +
                           "' because of " + test_support::system_text(127, "The specified procedure could not be found") +
                           " (code=127)"));
  lib.unload();
  EXPECT_FALSE(lib.loaded());
  EXPECT_EQ(lib.path(), "");
  EXPECT_EQ(lib.find_symbol("kern_testlib_answer"), nullptr);
}

TEST(dynamic_library, name_without_dot_gets_the_dll_suffix) {
  dynamic_library_t lib;
  lib.init("kern_testlib", KERN_TESTLIB_DIR);
  EXPECT_EQ(lib.path(), std::string(KERN_TESTLIB_DIR) + "/kern_testlib.DLL");
}

TEST(dynamic_library, signature_is_quiet_below_level_six) {
  capture_logger_t log(lvl_trace0);
  dynamic_library_t lib("kern_testlib.dll", KERN_TESTLIB_DIR);
  EXPECT_TRUE(log.lines().empty());
}

TEST(dynamic_library, missing_library_throws_with_the_path) {
  dynamic_library_t lib;
  errno = 0;
  try {
    lib.init("no_such_library.dll", "/nonexistent");
    FAIL();
  } catch (const library_load_exception_shell_t& e) {
    EXPECT_EQ(std::string(e.what()),
              "load library \"/nonexistent/no_such_library.dll\" failed because of " +
                  test_support::system_text(126, "The specified module could not be found") + " (code=126)");
  }
  EXPECT_FALSE(lib.loaded());
}

TEST(dynamic_library, concurrent_loads_of_one_name) {
  std::vector<std::thread> threads;
  std::atomic<int> ok{0};
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] {
      for (int j = 0; j < 50; ++j) {
        dynamic_library_t lib("kern_testlib.dll", KERN_TESTLIB_DIR);
        if (lib.find_function<int (*)()>("kern_testlib_answer")() == 42) ++ok;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(ok, 400);
}

}  // namespace
