// Text helpers: slices, quoting for log lines, time spans, code pages.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <unordered_set>

#include "kern/elapsed.h"
#include "kern/exceptions.h"
#include "kern/quote_utils.h"
#include "kern/types.h"
#include "kern/unicode.h"
#include "platform/win32.h"
#include "system_text.h"

namespace {

TEST(lstr, equality_and_hash) {
  const char a[] = "abcabc";
  EXPECT_EQ(lstr_t(a, 3), lstr_t(a + 3, 3));
  EXPECT_NE(lstr_t(a, 3), lstr_t(a, 4));
  EXPECT_EQ(lstr_t(), lstr_t("", 0));
  EXPECT_EQ(lstr_t().hash(), 0u);
  EXPECT_EQ(lstr_t("a").hash(), 97u);
  EXPECT_EQ(lstr_t("ab").hash(), 97u * 31 + 98);
  EXPECT_EQ(lstr_t("\xff").hash(), 255u);  // bytes are unsigned
  std::unordered_set<lstr_t> set{lstr_t("x"), lstr_t("y")};
  EXPECT_EQ(set.count(lstr_t(std::string("x"))), 1u);
}

TEST(lstr, split_variants) {
  lstr_t rest("1 id  digest");
  EXPECT_EQ(rest.split(' ').str(), "1");
  EXPECT_EQ(rest.split(' ').str(), "id");
  EXPECT_EQ(rest.split(' ').str(), "");  // adjacent separators are not merged
  EXPECT_EQ(rest.split(' ').str(), "digest");
  EXPECT_TRUE(rest.empty());
  EXPECT_EQ(rest.split(' ').str(), "");

  lstr_t lines("PROTOCOL 1\r\npartial");
  EXPECT_EQ(lines.split_if_found("\r\n").str(), "PROTOCOL 1");
  EXPECT_EQ(lines.split_if_found("\r\n").str(), "");  // not found: remainder kept
  EXPECT_EQ(lines.str(), "partial");
  EXPECT_EQ(lines.split(lstr_t("", 0)).str(), "partial");  // empty separator: everything

  const lstr_t path("a/b/c");
  EXPECT_EQ(path.rfind('/'), 3);
  EXPECT_EQ(path.rfind('x'), -1);
  EXPECT_EQ(path.find("b/"), 2);
}

TEST(quote_string, every_class_of_byte) {
  std::string out;
  const char input[] = "a b,c, d\r\n%";
  quote_string(input, sizeof(input) - 1, out);
  EXPECT_EQ(out, "a%Sb,c%Md%L%P");
  out.clear();
  quote_string("", 0, out);
  EXPECT_EQ(out, "%Z");
  out = "x=";
  const char bytes[] = {'\r', '\0', '\x7f', '\x80', '\xff', '\n', ',', '~', '!'};
  quote_string(bytes, sizeof(bytes), out);
  EXPECT_EQ(out, "x=%0d%00%7f%80%ff%0a,~!");  // appends; a lone CR or "," stays single
}

TEST(elapsed_time, days_only_when_present) {
  EXPECT_EQ(elapsed_time(5 * ticks_per_second), "00:00:05.000");
  EXPECT_EQ(elapsed_time(90061 * ticks_per_second + 5 * ticks_per_millisecond), "1-01:01:01.005");
  EXPECT_EQ(elapsed_time(0), "00:00:00.000");
  EXPECT_EQ(elapsed_time(ticks_per_millisecond - 1), "00:00:00.000");
  EXPECT_EQ(elapsed_time(86400 * ticks_per_second * 12), "12-00:00:00.000");
}

TEST(unicode, round_trip_and_failures) {
  const std::u16string wide = u"Grüße, 系统 \U0001F600";
  std::string narrow;
  from_unicode_to_cp(narrow, wide, CP_UTF8);
  EXPECT_EQ(narrow, "Grüße, 系统 \U0001F600");
  std::u16string back;
  from_cp_to_unicode(back, narrow.c_str(), CP_UTF8);
  EXPECT_EQ(back, wide);
#ifndef _WIN32
  // The stand-in's ANSI code page is UTF-8 (on Windows it is the system's).
  std::string acp;
  from_unicode_to_cp(acp, wide);
  EXPECT_EQ(acp, narrow);
#endif
  from_cp_to_unicode(back, "abc", CP_UTF8, 2);
  EXPECT_EQ(back, u"ab");
  from_unicode_to_cp(narrow, u"", CP_UTF8);
  EXPECT_EQ(narrow, "");
  // Malformed input becomes replacement characters, never garbage or a crash.
  from_cp_to_unicode(back, "a\xff" "b", CP_UTF8);
  EXPECT_EQ(back, u"a\uFFFDb");
  from_unicode_to_cp(narrow, std::u16string(u"x") + char16_t(0xD800) + u"y", CP_UTF8);
  EXPECT_EQ(narrow, "x\xEF\xBF\xBDy");
  // Other code pages go through the platform's converter.
  from_unicode_to_cp(narrow, u"ä", 1252);
  EXPECT_EQ(narrow, "\xe4");
  errno = 0;
  try {
    from_unicode_to_cp(narrow, u"x", 99999);
    FAIL();
  } catch (const BUG_exception_shell_t& e) {
    EXPECT_EQ(std::string(e.what()),
              "UNICODE to cp99999 conversion failed because of " + test_support::system_text(87, "The parameter is incorrect") + " (code=87)");
  }
  try {
    from_cp_to_unicode(back, "x", 99999);
    FAIL();
  } catch (const BUG_exception_shell_t& e) {
    EXPECT_EQ(std::string(e.what()),
              "cp99999 to UNICODE conversion failed because of " + test_support::system_text(87, "The parameter is incorrect") + " (code=87)");
  }
}

}  // namespace

#include "kern/split.h"
#include "system_text.h"

namespace {

std::vector<std::string> words_of(const char* text, size_t length) {
  std::vector<std::string> out;
  for (const lstr_t& w : kern_n::split_words(lstr_t(text, length), ' ')) out.push_back(w.str());
  return out;
}

TEST(split_words, every_separator_counts) {
  using v = std::vector<std::string>;
  EXPECT_EQ(words_of("1 abc def", 9), (v{"1", "abc", "def"}));
  EXPECT_EQ(words_of("1 abc  def", 10), (v{"1", "abc", "", "def"}));
  EXPECT_EQ(words_of(" 1", 2), (v{"", "1"}));
  EXPECT_EQ(words_of("1 ", 2), (v{"1", ""}));
  EXPECT_EQ(words_of("", 0), (v{""}));
  EXPECT_EQ(words_of(" ", 1), (v{"", ""}));
  EXPECT_EQ(words_of("1\tabc\tdef", 9), (v{"1\tabc\tdef"}));
  EXPECT_EQ(words_of("a\0b c", 5), (v{std::string("a\0b", 3), "c"}));
}

}  // namespace
