// bind_qutil against real libraries: the stand-in, a directory without one and
// a library lacking a function. The binding is process-wide and never undone,
// so each case runs in a fresh child process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/nap_common.h"
#include "kern/logger.h"
#include "qutil_env.h"
#include "tests/support/child_process.h"

namespace {

using test_support::point_loader_at;

// Counts the loader's "Loading library" lines.
class load_counter_t : public if_logger_t {
 public:
  int output(const char* text) override {
    if (std::string(text).find("Loading library \"Qutil.dll\"") != std::string::npos) ++loads;
    return 0;
  }
  int loads = 0;
};

bool all_bound() {
  return napcommon::AllocFixupInfo && napcommon::AllocCountedString && napcommon::FreeSoH &&
         napcommon::FreeIsolationInfo && napcommon::FreeSoHAttributeValue;
}

bool none_bound() {
  return !napcommon::AllocFixupInfo && !napcommon::AllocCountedString && !napcommon::FreeSoH &&
         !napcommon::FreeIsolationInfo && !napcommon::FreeSoHAttributeValue;
}

#ifdef _WIN32
const char partial_library[] = "QUtil.dll";
#else
const char partial_library[] = QUTIL_PARTIAL_DIR "/libqutil.so";
#endif

int bind_from(const char* directory) {
  point_loader_at(directory);
  return napcommon::bind_qutil() ? 0 : 1;
}

class bind_qutil_DeathTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(bind_qutil_DeathTest, binds_the_five_functions_of_the_real_library) {
  EXPECT_EXIT(
      {
        if (!none_bound()) std::exit(3);
        if (bind_from(QUTIL_DIR) != 0) std::exit(1);
        std::exit(all_bound() ? 0 : 2);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(bind_qutil_DeathTest, a_missing_library_fails_the_binding) {
  const std::filesystem::path empty = test_support::make_temp_dir("shv-no-qutil");
  EXPECT_EXIT(
      {
        if (bind_from(empty.string().c_str()) != 1) std::exit(1);
        std::exit(none_bound() ? 0 : 2);
      },
      ::testing::ExitedWithCode(0), "");
  std::filesystem::remove_all(empty);
}

TEST_F(bind_qutil_DeathTest, a_missing_function_fails_and_unloads_the_library) {
  EXPECT_EXIT(
      {
        if (bind_from(QUTIL_PARTIAL_DIR) != 1) std::exit(1);
        if (!none_bound()) std::exit(2);
        // The partial library is no longer mapped ...
        if (GetModuleHandleA(partial_library) != nullptr) std::exit(3);
        // ... and a later attempt with the real library succeeds.
        if (bind_from(QUTIL_DIR) != 0) std::exit(4);
        std::exit(all_bound() ? 0 : 5);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(bind_qutil_DeathTest, a_second_call_does_not_load_again) {
  EXPECT_EXIT(
      {
        static load_counter_t counter;
        static if_logger_t* const previous = global_logger;  // kept reachable
        counter.set_level(lvl_debug3);
        global_logger = &counter;
        if (bind_from(QUTIL_DIR) != 0) std::exit(1);
        const auto first = napcommon::AllocCountedString;
        // Were it to load again, it would now find the partial library and fail.
        if (bind_from(QUTIL_PARTIAL_DIR) != 0) std::exit(2);
        if (napcommon::AllocCountedString != first) std::exit(3);
        const int loads = counter.loads;
        global_logger = previous;
        std::exit(loads == 1 ? 0 : 4);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
