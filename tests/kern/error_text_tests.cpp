// Error values as text: the system message framing, the numeric fallback, the
// errno clause, and that the values are left as found.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "kern/error_text.h"
#include "platform/win32.h"
#include "system_text.h"

namespace {

TEST(error_text, system_message_framing) {
  EXPECT_EQ(format_system_error(5), test_support::system_text(5, "Access is denied") + " (code=5)");
  EXPECT_EQ(format_system_error(2), test_support::system_text(2, "The system cannot find the file specified") + " (code=2)");
  EXPECT_EQ(format_system_error(1815),
            test_support::system_text(1815, "The specified resource language ID cannot be found in the image file") + " (code=1815)");
  // FACILITY_WIN32 results read like their Win32 code.
  EXPECT_EQ(format_system_error(0x80070005u), test_support::system_text(5, "Access is denied") + " (code=2147942405)");
}

TEST(error_text, unknown_code_falls_back_to_numbers) {
  EXPECT_EQ(format_system_error(0x1234567u), "Error 19088743 0x01234567 (get message errors 317 0)");
}

TEST(error_text, small_buffer_gets_the_raw_message_cut) {
  char buffer[10];
  format_system_error(5, buffer, sizeof(buffer));
  EXPECT_EQ(std::string(buffer), test_support::system_text(5, "Access is denied").substr(0, 9));
}

TEST(error_text, get_last_error_combinations) {
  EXPECT_EQ(get_last_error(error_saver_t(0, 0)), "No errors detected");
  EXPECT_EQ(get_last_error(error_saver_t(2, 0)),
            std::string("Runtime error is ") + std::strerror(2) + " (errno=2)");
  EXPECT_EQ(get_last_error(error_saver_t(0, 5)), test_support::system_text(5, "Access is denied") + " (code=5)");
  EXPECT_EQ(get_last_error(error_saver_t(13, 5)),
            test_support::system_text(5, "Access is denied") + " (code=5) and runtime error is " + std::strerror(13) +
                " (errno=13)");
}

TEST(error_text, values_survive_rendering) {
  errno = EACCES;
  SetLastError(87);
  const error_saver_t saved;
  EXPECT_EQ(saved.errno_value(), EACCES);
  EXPECT_EQ(saved.win32_value(), 87u);
  const std::string text = get_last_error();
  EXPECT_NE(text.find(test_support::system_text(87, "The parameter is incorrect") + " (code=87)"), std::string::npos);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(GetLastError(), 87u);
  errno = 0;
  SetLastError(0);
  saved.restore();
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(GetLastError(), 87u);
}

}  // namespace
