// Counted strings and the registration record over the real utility library.
#include <gtest/gtest.h>

#include <string>

#include "qutil_env.h"

namespace {

using test_support::bind_real_qutil;

using namespace napcommon;

// UTF-16 text as the SDK's WCHAR (wchar_t on Windows), and back.
const WCHAR* w(const char16_t* text) { return plat::wstr(text); }
std::u16string text_of(const WCHAR* p, size_t n) { return std::u16string(plat::u16(p), n); }

class counted_string : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(bind_real_qutil()); }
};

TEST_F(counted_string, fill_copies_into_an_empty_string_once) {
  CountedString cs{};
  ASSERT_EQ(FillCountedString(w(u"abc"), &cs), S_OK);
  ASSERT_EQ(cs.length, 3);
  ASSERT_NE(cs.string, nullptr);
  EXPECT_EQ(text_of(cs.string, 3), u"abc");
  WCHAR* first = cs.string;

  EXPECT_EQ(FillCountedString(w(u"defgh"), &cs), E_INVALIDARG);
  EXPECT_EQ(cs.length, 3);
  EXPECT_EQ(cs.string, first);
  EXPECT_EQ(text_of(cs.string, 3), u"abc");
  EXPECT_EQ(EmptyCountedString(&cs), S_OK);
}

TEST_F(counted_string, a_half_empty_string_counts_as_not_empty) {
  WCHAR chars[] = {'x', 0};
  CountedString pointer_only{0, chars};
  EXPECT_EQ(FillCountedString(w(u"abc"), &pointer_only), E_INVALIDARG);
  EXPECT_EQ(pointer_only.string, chars);
  CountedString length_only{2, nullptr};
  EXPECT_EQ(FillCountedString(w(u"abc"), &length_only), E_INVALIDARG);
  EXPECT_EQ(length_only.length, 2);
  EXPECT_EQ(length_only.string, nullptr);
}

TEST_F(counted_string, null_arguments) {
  CountedString cs{};
  EXPECT_EQ(FillCountedString(nullptr, &cs), E_POINTER);
  EXPECT_EQ(cs.length, 0);
  EXPECT_EQ(cs.string, nullptr);
  EXPECT_EQ(FillCountedString(w(u"abc"), nullptr), E_POINTER);
  EXPECT_EQ(EmptyCountedString(nullptr), E_POINTER);
}

TEST_F(counted_string, empty_text_and_emptying_twice) {
  CountedString cs{};
  ASSERT_EQ(FillCountedString(w(u""), &cs), S_OK);
  EXPECT_EQ(cs.length, 0);
  ASSERT_NE(cs.string, nullptr);  // a task-allocated terminator
  EXPECT_EQ(cs.string[0], 0);
  EXPECT_EQ(EmptyCountedString(&cs), S_OK);
  EXPECT_EQ(cs.string, nullptr);
  EXPECT_EQ(EmptyCountedString(&cs), S_OK);
  EXPECT_EQ(cs.length, 0);
  EXPECT_EQ(cs.string, nullptr);
}

TEST_F(counted_string, the_library_failure_reaches_the_caller_and_out_stays_empty) {
  // Longer than the NAP SDK's counted-string limit of 1024 characters.
  const std::u16string too_long(1025, u'x');
  CountedString cs{};
  EXPECT_EQ(FillCountedString(w(too_long.c_str()), &cs), E_INVALIDARG);
  EXPECT_EQ(cs.length, 0);
  EXPECT_EQ(cs.string, nullptr);
  const std::u16string longest(1024, u'y');
  ASSERT_EQ(FillCountedString(w(longest.c_str()), &cs), S_OK);
  EXPECT_EQ(cs.length, 1024);
  EXPECT_EQ(text_of(cs.string, cs.length), longest);
  EmptyCountedString(&cs);
}

TEST_F(counted_string, reginfo_starts_zeroed_and_frees_its_strings) {
  nap_reginfo_t info;
  const auto* bytes = reinterpret_cast<const unsigned char*>(static_cast<NapComponentRegistrationInfo*>(&info));
  for (size_t i = 0; i < sizeof(NapComponentRegistrationInfo); ++i) ASSERT_EQ(bytes[i], 0) << i;
  ASSERT_EQ(FillCountedString(w(u"Vexor System Health Validator"), &info.friendlyName), S_OK);
  ASSERT_EQ(FillCountedString(w(u"description"), &info.description), S_OK);
  ASSERT_EQ(FillCountedString(w(u"1.0.0.1"), &info.version), S_OK);
  ASSERT_EQ(FillCountedString(w(u"Vexor Labs, Ltd."), &info.vendorName), S_OK);
  EXPECT_EQ(info.friendlyName.length, 29);
  // The destructor frees the four buffers; the leak checker of the sanitizer
  // build sees any that it misses.
}

}  // namespace
