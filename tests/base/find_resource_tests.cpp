// Language choice and lookup errors over the program's own resources and over
// real modules.
#include <gtest/gtest.h>

#include <thread>

#include "resource_test_support.h"

namespace {

using test_support::module_t;
using test_support::thread_locale_t;
using test_support::resource_bytes;
using test_support::find_id;
using test_support::load_text;

using base_n::rt_dialog;
using base_n::rt_string;

TEST(find_resource, the_exact_language_comes_first) {
  thread_locale_t locale(0x0409);
  EXPECT_EQ(load_text(1, nullptr), u"one, English (United States)");
  EXPECT_EQ(load_text(3, nullptr), u"three");
  EXPECT_EQ(load_text(17, nullptr), u"seventeen");
}

TEST(find_resource, without_the_language_the_neutral_entry_is_chosen) {
  // Resources in 0x0409 and 0x0000 only, a Russian thread: the neutral one.
  thread_locale_t locale(0x0419);
  EXPECT_EQ(load_text(1, nullptr), u"one, neutral");
  // English (United Kingdom) has neither an exact nor a primary-language entry.
  thread_locale_t british(0x0809);
  EXPECT_EQ(load_text(1, nullptr), u"one, neutral");
}

TEST(find_resource, among_neutral_languages_the_last_one_wins) {
  thread_locale_t locale(0x0409);  // block 3 exists in 0x0000, 0x0400 and 0x0800 only
  EXPECT_EQ(load_text(32, nullptr), u"thirty-two, neutral 0x0800");
}

TEST(find_resource, an_empty_or_missing_entry_gives_the_default) {
  thread_locale_t locale(0x0409);
  EXPECT_EQ(load_text(2, nullptr), u"<default>");   // block exists, entry empty
  EXPECT_EQ(load_text(15, nullptr), u"<default>");  // last entry of the block
  EXPECT_EQ(load_text(999, nullptr), u"<default>");  // no such block
  EXPECT_EQ(base_n::load_string_resource(2, nullptr, u""), u"");
  thread_locale_t russian(0x0419);
  EXPECT_EQ(load_text(17, nullptr), u"<default>");  // the neutral language lacks block 2
}

TEST(find_resource, errors_name_what_is_missing) {
  thread_locale_t locale(0x0409);
  SetLastError(0);
  EXPECT_EQ(find_id(nullptr, 300, rt_dialog), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
  EXPECT_EQ(find_id(nullptr, 99, rt_string), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_EQ(base_n::find_resource<char>(nullptr, "NAMED", MAKEINTRESOURCEA(rt_string)), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_EQ(base_n::find_resource<char>(nullptr, MAKEINTRESOURCEA(1), "TYPE"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));

  thread_locale_t russian(0x0419);  // block 2 is English (United States) only, with no neutral entry
  EXPECT_EQ(find_id(nullptr, 2, rt_string), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_LANG_NOT_FOUND));
}

TEST(find_resource, a_module_without_resources_does_not_borrow_its_dependencys) {
  // shvtest_no_res links shvtest_healthval_res, whose section the loader's
  // symbol search would find through the dependency.
  module_t none("shvtest_no_res");
  ASSERT_NE(none.get(), nullptr);
  thread_locale_t locale(0x0409);
  SetLastError(0);
  EXPECT_EQ(find_id(none.get(), 7, rt_string), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
  EXPECT_EQ(load_text(100, none.get()), u"<default>");
}

TEST(find_resource, each_module_answers_from_its_own_section) {
  module_t val("shvtest_healthval_res");
  module_t cfg("shvtest_healthcfg_res");
  ASSERT_NE(val.get(), nullptr);
  ASSERT_NE(cfg.get(), nullptr);
  thread_locale_t locale(0x0409);
  EXPECT_EQ(load_text(100, val.get()), u"healthval");
  EXPECT_EQ(load_text(100, cfg.get()), u"healthcfg");
  EXPECT_EQ(load_text(100, nullptr), u"<default>");
  EXPECT_EQ(load_text(1, val.get()), u"<default>");
  // A handle of one module's section is not data of another module.
  HRSRC in_val = find_id(val.get(), 7, rt_string);
  ASSERT_NE(in_val, nullptr);
#ifndef _WIN32  // the stand-in checks; Windows takes the handle on trust
  SetLastError(0);
  EXPECT_EQ(LoadResource(cfg.get(), in_val), nullptr);
  EXPECT_EQ(SizeofResource(cfg.get(), in_val), 0u);
#endif
  EXPECT_FALSE(resource_bytes(val.get(), in_val).empty());
}

TEST(find_resource, each_thread_uses_its_own_locale) {
  module_t val("shvtest_healthval_res");
  ASSERT_NE(val.get(), nullptr);
  std::u16string bulgarian, german;
  std::thread a([&] {
    SetThreadLocale(0x0402);
    for (int i = 0; i < 200; ++i) bulgarian = load_text(306, val.get());
  });
  std::thread b([&] {
    SetThreadLocale(0x0407);
    for (int i = 0; i < 200; ++i) german = load_text(306, val.get());
  });
  a.join();
  b.join();
  EXPECT_EQ(bulgarian,
            u"Vexor System Health Validator проверява здравословното състояние на антивирусните компоненти.");
  EXPECT_EQ(german, u"Vexor System Health Validator verifiziert den Sicherheitsstatus der Antivirus-Komponenten.");
}

}  // namespace

namespace {

TEST(find_resource, a_module_sees_the_locale_its_caller_set) {
  module_t val("shvtest_healthval_res");
  ASSERT_NE(val.get(), nullptr);
  auto own_string = reinterpret_cast<size_t (*)(UINT, char16_t*, size_t)>(
      reinterpret_cast<void*>(GetProcAddress(val.get(), "shvtest_own_string")));
  ASSERT_NE(own_string, nullptr);
  char16_t buffer[256];
  {
    thread_locale_t bulgarian(0x0402);
    ASSERT_GT(own_string(306, buffer, 256), 0u);
    EXPECT_EQ(std::u16string(buffer),
              u"Vexor System Health Validator проверява здравословното състояние на антивирусните компоненти.");
  }
  {
    thread_locale_t slovak(0x041B);
    ASSERT_GT(own_string(307, buffer, 256), 0u);
    EXPECT_EQ(std::u16string(buffer), u"Vexor modul kontroly správnej činnosti systému");
  }
  thread_locale_t japanese(0x0411);  // none of its own: the neutral (English) entry
  ASSERT_GT(own_string(307, buffer, 256), 0u);
  EXPECT_EQ(std::u16string(buffer), u"Vexor System Health Validator");
}

}  // namespace
