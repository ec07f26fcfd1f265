// string_to_uint64 and the out-of-range texts: every rule of the parser and
// its exact messages, which other parts of the system log.
#include <gtest/gtest.h>

#include <string>

#include "kern/exceptions.h"
#include "kern/numstrings.h"

namespace {

std::string error_of(const char* text) {
  try {
    string_to_uint64(text);
  } catch (const number_format_exception_shell_t& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(string_to_uint64, plain_separator_and_exponent_forms) {
  EXPECT_EQ(string_to_uint64("65535"), 65535u);
  EXPECT_EQ(string_to_uint64("0"), 0u);
  EXPECT_EQ(string_to_uint64("007"), 7u);
  EXPECT_EQ(string_to_uint64("6.5535E4"), 65535u);
  EXPECT_EQ(string_to_uint64("1.9"), 1u);
  EXPECT_EQ(string_to_uint64("12E-1"), 1u);
  EXPECT_EQ(string_to_uint64("2.5E2"), 250u);
  EXPECT_EQ(string_to_uint64("5E0"), 5u);
  EXPECT_EQ(string_to_uint64("5e+2"), 500u);
  EXPECT_EQ(string_to_uint64("1,5"), 1u);
  EXPECT_EQ(string_to_uint64("1,5E1"), 15u);
  EXPECT_EQ(string_to_uint64("1."), 1u);
  EXPECT_EQ(string_to_uint64(".5E1"), 5u);
  EXPECT_EQ(string_to_uint64("18446744073709551615"), UINT64_MAX);
  EXPECT_EQ(string_to_uint64("1E19"), 10000000000000000000ull);
  EXPECT_EQ(string_to_uint64("123E-5"), 0u);
  EXPECT_EQ(string_to_uint64("0E400"), 0u);
  EXPECT_EQ(string_to_uint64("0.0E400"), 0u);
  EXPECT_EQ(string_to_uint64("0,000E+999"), 0u);
  // Only the given length is read.
  EXPECT_EQ(string_to_uint64(lstr_t("12345", 3)), 123u);
}

TEST(string_to_uint64, error_texts) {
  EXPECT_EQ(error_of(""), "empty string");
  EXPECT_EQ(error_of("-1"), "illegal char \\x2d in string \"-1\" at position 0");
  EXPECT_EQ(error_of("1.2.3"), "illegal char \\x2e in string \"1.2.3\" at position 3");
  EXPECT_EQ(error_of("12a"), "illegal char \\x61 in string \"12a\" at position 2");
  EXPECT_EQ(error_of(" 1"), "illegal char \\x20 in string \" 1\" at position 0");
  EXPECT_EQ(error_of("1E5E"), "illegal char \\x45 in string \"1E5E\" at position 3");
  EXPECT_EQ(error_of("\xff"), "illegal char \\xff in string \"\xff\" at position 0");
  EXPECT_EQ(error_of("1E"), "no exponent present in string \"1E\" after 'E' at position 1");
  EXPECT_EQ(error_of("1E+"), "no exponent present in string \"1E+\" after sign at position 1");
  EXPECT_EQ(error_of("1e-"), "no exponent present in string \"1e-\" after sign at position 1");
  EXPECT_EQ(error_of("18446744073709551616"),
            "integer overflow detected in string \"18446744073709551616\" at position 19");
  EXPECT_EQ(error_of("99999999999999999999999"),
            "integer overflow detected in string \"99999999999999999999999\" at position 19");
  EXPECT_EQ(error_of("1E20"), "integer overflow detected in string \"1E20\" at exponent applying");
  EXPECT_EQ(error_of("2E19"), "integer overflow detected in string \"2E19\" at exponent applying");
  // With a separator the product is computed in floating point: too large is
  // the same overflow, not the largest value.
  EXPECT_EQ(error_of("2.0E19"), "integer overflow detected in string \"2.0E19\" at exponent applying");
  EXPECT_EQ(error_of("1.5E400"), "integer overflow detected in string \"1.5E400\" at exponent applying");
  EXPECT_EQ(string_to_uint64("1.8E19"), 18000000000000000000ull);
  EXPECT_EQ(error_of("1E99999999999"),
            "integer overflow detected in string \"1E99999999999\" at position 11");
}

TEST(string_to_number, sign_and_integer_only_modes) {
  using kern_n::string_to_number;
  EXPECT_EQ(string_to_number<uint64_t>("+7", true, true), 7u);
  EXPECT_EQ(string_to_number<uint64_t>("-", true, true), 0u);
  EXPECT_EQ(string_to_number<uint64_t>("-1", true, true), UINT64_MAX);  // wraps in the type
  try {
    string_to_number<uint64_t>("1.5", false, true);
    FAIL();
  } catch (const number_format_exception_shell_t& e) {
    EXPECT_STREQ(e.what(), "illegal char \\x2e in string \"1.5\" at position 1");
  }
}

TEST(raise_number_out_of_range, wording_by_size_and_sign) {
  auto text = [](bool is_signed, size_t size) {
    try {
      kern_n::detail::raise_number_out_of_range("65536", is_signed, size);
    } catch (const number_format_exception_shell_t& e) {
      return std::string(e.what());
    }
    return std::string();
  };
  EXPECT_EQ(text(false, 2), "unsigned short number value \"65536\" is out of range");
  EXPECT_EQ(text(true, 1), "signed char number value \"65536\" is out of range");
  EXPECT_EQ(text(false, 4), "unsigned int number value \"65536\" is out of range");
  EXPECT_EQ(text(true, 8), "signed long long number value \"65536\" is out of range");
  EXPECT_EQ(text(false, 16), "unsigned 128-bit number value \"65536\" is out of range");
}

}  // namespace
