// check_res and com_error_t.
#include <gtest/gtest.h>

#include <string>

#include "common/nap_common.h"
#include "tests/support/system_text.h"

namespace {

using napcommon::check_res;
using napcommon::com_error_t;

TEST(check_res, success_codes_pass) {
  EXPECT_NO_THROW(check_res(S_OK, "x"));
  EXPECT_NO_THROW(check_res(S_FALSE, "x"));
  EXPECT_NO_THROW(check_res(0x7FFFFFFF, "x"));
}

TEST(check_res, failure_raises_with_code_and_exact_text) {
  SetLastError(0);
  try {
    check_res(E_ACCESSDENIED, "x");
    FAIL() << "no exception";
  } catch (const com_error_t& e) {
    EXPECT_EQ(e.code(), E_ACCESSDENIED);
    EXPECT_EQ(std::string(e.what()),
              "x because of error 80070005 (" +
                  test_support::system_text(static_cast<DWORD>(E_ACCESSDENIED), "Access is denied") +
                  " (code=2147942405))");
  }
#ifndef _WIN32
  // The last error is the failed code. On Windows the throw itself runs
  // through the system's exception dispatch, which may change it.
  EXPECT_EQ(GetLastError(), 0x80070005u);
#endif
}

TEST(check_res, codes_print_as_eight_upper_case_digits) {
  try {
    check_res(NAP_E_INVALID_PACKET, "INapSoHProcessor::Initialize");
    FAIL() << "no exception";
  } catch (const com_error_t& e) {
    const std::string text = e.what();
    EXPECT_EQ(text.rfind("INapSoHProcessor::Initialize because of error 80270001 (", 0), 0u) << text;
    EXPECT_EQ(text.back(), ')');
  }
  try {
    check_res(static_cast<HRESULT>(0x8abcdef0u), "y");
    FAIL() << "no exception";
  } catch (const com_error_t& e) {
    const std::string text = e.what();
    // A code without a system text still gets one.
    EXPECT_EQ(text.rfind("y because of error 8ABCDEF0 (", 0), 0u) << text;
    EXPECT_GT(text.size(), std::string("y because of error 8ABCDEF0 ()").size());
  }
}

TEST(check_res, errno_survives) {
  errno = 42;
  EXPECT_THROW(check_res(E_FAIL, "x"), com_error_t);
  EXPECT_EQ(errno, 42);
}

TEST(com_error, copies_keep_message_and_code_and_are_std_exceptions) {
  const com_error_t original("operation because of error 80004005 (Unspecified error)", E_FAIL);
  const com_error_t copy = original;
  EXPECT_STREQ(copy.what(), original.what());
  EXPECT_NE(copy.what(), original.what());  // its own text
  EXPECT_EQ(copy.code(), E_FAIL);
  try {
    throw copy;
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "operation because of error 80004005 (Unspecified error)");
  }
}

}  // namespace
