// The thread locale of the seam: per thread, with the process default taken
// from the environment's locale.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/kernel/locale.h"
#include "platform/win32.h"

namespace {

TEST(thread_locale, locale_names) {
  using plat_linux::lcid_from_locale_name;
  EXPECT_EQ(lcid_from_locale_name("de_AT"), 0x0C07u);
  EXPECT_EQ(lcid_from_locale_name("de_AT.UTF-8"), 0x0C07u);
  EXPECT_EQ(lcid_from_locale_name("de_AT.ISO-8859-1@euro"), 0x0C07u);
  EXPECT_EQ(lcid_from_locale_name("de_AT@euro"), 0x0C07u);
  EXPECT_EQ(lcid_from_locale_name("en_US.UTF-8"), 0x0409u);
  EXPECT_EQ(lcid_from_locale_name("ru_RU.KOI8-R"), 0x0419u);
  EXPECT_EQ(lcid_from_locale_name("bg_BG"), 0x0402u);
  EXPECT_EQ(lcid_from_locale_name("zh_TW.UTF-8"), 0x0404u);
  EXPECT_EQ(lcid_from_locale_name("de"), 0x0407u);     // a language alone
  EXPECT_EQ(lcid_from_locale_name("de_XX"), 0x0407u);  // an unknown territory
}

TEST(thread_locale, malformed_or_unknown_names) {
  using plat_linux::lcid_from_locale_name;
  for (const char* name : {"", "C", "POSIX", "C.UTF-8", "x", "_AT", "zz_ZZ", "deutsch_AT", ".UTF-8", "@euro",
                           "de-AT"}) {
    EXPECT_EQ(lcid_from_locale_name(name), 0u) << name;
  }
  EXPECT_EQ(lcid_from_locale_name(nullptr), 0u);
}

class environment_locale : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* v : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
      const char* value = std::getenv(v);
      saved_.emplace_back(v, value ? std::optional<std::string>(value) : std::nullopt);
      unsetenv(v);
    }
  }
  void TearDown() override {
    for (auto& [name, value] : saved_) {
      if (value) setenv(name, value->c_str(), 1);
      else unsetenv(name);
    }
  }
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

TEST_F(environment_locale, lc_all_then_lc_messages_then_lang) {
  using plat_linux::lcid_from_environment;
  EXPECT_EQ(lcid_from_environment(), 0x0409u);
  setenv("LANG", "fr_FR.UTF-8", 1);
  EXPECT_EQ(lcid_from_environment(), 0x040Cu);
  setenv("LC_MESSAGES", "ru_RU.UTF-8", 1);
  EXPECT_EQ(lcid_from_environment(), 0x0419u);
  setenv("LC_ALL", "de_AT.UTF-8", 1);
  EXPECT_EQ(lcid_from_environment(), 0x0C07u);
  setenv("LC_ALL", "", 1);  // set but empty: does not count
  EXPECT_EQ(lcid_from_environment(), 0x0419u);
  setenv("LC_ALL", "C", 1);  // the first set variable decides, even when it names no language
  EXPECT_EQ(lcid_from_environment(), 0x0409u);
}

TEST_F(environment_locale, the_process_default_is_the_threads_default) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  setenv("LC_ALL", "de_AT.UTF-8", 1);
  // A fresh process reads the environment on first use.
  EXPECT_EXIT(
      {
        const bool ok = GetThreadLocale() == 0x0C07 && GetUserDefaultLCID() == 0x0C07;
        LCID other = 0;
        std::thread([&] { other = GetThreadLocale(); }).join();
        std::exit(ok && other == 0x0C07 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(thread_locale, set_per_thread) {
  const LCID before = GetThreadLocale();
  ASSERT_TRUE(SetThreadLocale(0x0402));
  EXPECT_EQ(GetThreadLocale(), 0x0402u);
  LCID seen_by_other = 0;
  std::thread([&] {
    seen_by_other = GetThreadLocale();
    SetThreadLocale(0x0411);
  }).join();
  EXPECT_EQ(seen_by_other, GetUserDefaultLCID());  // a new thread starts from the default
  EXPECT_EQ(GetThreadLocale(), 0x0402u);           // and its change stays its own
  SetLastError(0);
  EXPECT_FALSE(SetThreadLocale(0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(SetThreadLocale(0x00100409));  // no such sort id
  EXPECT_EQ(GetThreadLocale(), 0x0402u);
  ASSERT_TRUE(SetThreadLocale(before));
}

}  // namespace
