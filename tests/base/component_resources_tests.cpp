// The components' resources as built from their data files: texts, languages,
// the settings dialog and the icon group.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "dialog_template.h"
#include "resource_test_support.h"

namespace {

using test_support::module_t;
using test_support::thread_locale_t;
using test_support::resource_bytes;
using test_support::find_id;
using test_support::load_text;
using test_support::dialog_control_t;
using test_support::dialog_template_t;
using test_support::read_dialog_template;

using base_n::rt_dialog;
using base_n::rt_group_icon;
using base_n::rt_icon;
using base_n::rt_string;

const char16_t english_name[] = u"Vexor System Health Validator";
const char16_t english_description[] =
    u"Vexor System Health Validator verifies health state of anti-virus components.";

class healthval_resources : public ::testing::Test {
 protected:
  module_t module_{"shvtest_healthval_res"};
  std::u16string text(UINT id, LCID locale) {
    thread_locale_t scope(locale);
    return load_text(id, module_.get());
  }
};

TEST_F(healthval_resources, friendly_name_by_thread_language) {
  ASSERT_NE(module_.get(), nullptr);
  EXPECT_EQ(text(307, 0x0409), english_name);                              // English (United States)
  EXPECT_EQ(text(307, 0x0C07), u"Vexor System Health Validator");          // German (Austria): primary 7
  EXPECT_EQ(text(306, 0x0C07),
            u"Vexor System Health Validator verifiziert den Sicherheitsstatus der Antivirus-Komponenten.");
  EXPECT_EQ(text(306, 0x0419), english_description);                       // Russian: English texts of 25
  EXPECT_EQ(text(306, 0x0402),
            u"Vexor System Health Validator проверява здравословното състояние на антивирусните компоненти.");
  EXPECT_EQ(text(307, 0x0C0A), u"Validador de Integridad del Sistema de Vexor");  // Spanish (Spain): 10
  EXPECT_EQ(text(307, 0x041B), u"Vexor modul kontroly správnej činnosti systému");
  EXPECT_EQ(text(307, 0x0804), u"Vexor 系统健康验证");
  EXPECT_EQ(text(306, 0x0426), u"Vexor System Health Validator apstiprina antivīrusu komponentu veselības stāvokli.");
  EXPECT_EQ(text(307, 0x0816), u"Vexor System Health");  // Portuguese (Portugal): 22
}

TEST_F(healthval_resources, languages_outside_the_sixteen_find_the_english_texts) {
  ASSERT_NE(module_.get(), nullptr);
  EXPECT_EQ(text(307, 0x0411), english_name);  // Japanese: the neutral entry
  EXPECT_EQ(text(306, 0x0404), english_description);  // Chinese (Taiwan): only 2052 is Chinese
  EXPECT_EQ(text(308, 0x041F), u"Vexor Labs, Ltd.");  // Turkish
  EXPECT_EQ(text(307, 0x0804), u"Vexor 系统健康验证");  // the sixteen keep their own
#ifndef _WIN32  // Windows refuses a thread locale that does not exist, such as this one
  EXPECT_EQ(text(307, 0x0815), english_name);  // another Polish sub-language: 1045 is not neutral
#endif
  EXPECT_EQ(text(305, 0x0409), u"<default>");  // not a string of this module
}

TEST_F(healthval_resources, common_strings_in_every_language) {
  ASSERT_NE(module_.get(), nullptr);
  for (LCID locale : {0x0409, 0x0419, 0x0407, 0x040A, 0x040C, 0x0416, 0x0427, 0x0402, 0x0408, 0x040E,
                      0x0415, 0x041B, 0x0422, 0x0425, 0x0426, 0x0804}) {
    EXPECT_EQ(text(100, static_cast<LCID>(locale)), u"healthval") << std::hex << locale;
    EXPECT_EQ(text(308, static_cast<LCID>(locale)), u"Vexor Labs, Ltd.") << std::hex << locale;
    EXPECT_EQ(text(309, static_cast<LCID>(locale)), u"1.0.0.1") << std::hex << locale;
    EXPECT_NE(text(306, static_cast<LCID>(locale)), u"<default>") << std::hex << locale;
  }
}

uint16_t u16_at(const std::vector<unsigned char>& b, size_t at) {
  return static_cast<uint16_t>(b.at(at) | (b.at(at + 1) << 8));
}
uint32_t u32_at(const std::vector<unsigned char>& b, size_t at) {
  return u16_at(b, at) | (static_cast<uint32_t>(u16_at(b, at + 2)) << 16);
}

TEST_F(healthval_resources, icon_group_400_holds_the_ten_images) {
  ASSERT_NE(module_.get(), nullptr);
  thread_locale_t japanese(0x0411);  // language-neutral: found for any thread
  HRSRC group = find_id(module_.get(), 400, rt_group_icon);
  ASSERT_NE(group, nullptr);
  const auto g = resource_bytes(module_.get(), group);
  ASSERT_GE(g.size(), 6u);
  EXPECT_EQ(u16_at(g, 0), 0);
  EXPECT_EQ(u16_at(g, 2), 1);
  const uint16_t count = u16_at(g, 4);
  ASSERT_EQ(count, 10);
  ASSERT_EQ(g.size(), 6u + 14u * count);
  std::set<std::pair<int, int>> seen;
  for (uint16_t i = 0; i < count; ++i) {
    const size_t e = 6 + 14 * i;
    const int size = g[e] == 0 ? 256 : g[e];
    const int bits = u16_at(g, e + 6);
    seen.insert({size, bits});
    EXPECT_EQ(g[e + 2], bits == 4 ? 16 : 0);  // colour count
    HRSRC image = find_id(module_.get(), u16_at(g, e + 12), rt_icon);
    ASSERT_NE(image, nullptr);
    const auto img = resource_bytes(module_.get(), image);
    ASSERT_EQ(img.size(), u32_at(g, e + 8));
    if (size == 256) {
      ASSERT_GE(img.size(), 24u);
      EXPECT_EQ(std::memcmp(img.data(), "\x89PNG\r\n\x1a\n", 8), 0);
      EXPECT_EQ(img[16 + 3], 0);  // width 256, big-endian
      EXPECT_EQ(img[16 + 2], 1);
    } else {
      EXPECT_EQ(u32_at(img, 0), 40u);              // bitmap header
      EXPECT_EQ(u32_at(img, 4), static_cast<uint32_t>(size));
      EXPECT_EQ(u32_at(img, 8), static_cast<uint32_t>(2 * size));  // colour and mask
      EXPECT_EQ(u16_at(img, 14), bits);
      const size_t palette = bits == 4 ? 16 : bits == 8 ? 256 : 0;
      const size_t row = (static_cast<size_t>(size) * bits + 31) / 32 * 4;
      const size_t mask_row = (static_cast<size_t>(size) + 31) / 32 * 4;
      EXPECT_EQ(img.size(), 40 + 4 * palette + size * (row + mask_row));
    }
  }
  const std::set<std::pair<int, int>> wanted = {{48, 4},  {32, 4},  {16, 4},  {48, 8},  {32, 8},
                                                {16, 8},  {48, 32}, {32, 32}, {16, 32}, {256, 32}};
  EXPECT_EQ(seen, wanted);
}

class healthcfg_resources : public ::testing::Test {
 protected:
  module_t module_{"shvtest_healthcfg_res"};
  // The dialog in the language chosen for locale; throws when there is none.
  dialog_template_t dialog(LCID locale) {
    thread_locale_t scope(locale);
    HRSRC r = find_id(module_.get(), 300, rt_dialog);
    if (r == nullptr) throw std::runtime_error("no dialog");
    return read_dialog_template(resource_bytes(module_.get(), r));
  }
  std::u16string text(UINT id, LCID locale) {
    thread_locale_t scope(locale);
    return load_text(id, module_.get());
  }
};

TEST_F(healthcfg_resources, english_dialog_matches_the_layout) {
  ASSERT_NE(module_.get(), nullptr);
  const dialog_template_t d = dialog(0x0409);
  EXPECT_EQ(d.style, 0x80000000u | 0x10000000u | 0x00C00000u | 0x00080000u | 0x80u | 0x40u | 0x08u);
  EXPECT_EQ(d.cx, 218);
  EXPECT_EQ(d.cy, 106);
  EXPECT_EQ(d.title, u"Vexor Network Access Protection Settings");
  EXPECT_EQ(d.face, u"MS Shell Dlg");
  EXPECT_EQ(d.points, 8);
  EXPECT_EQ(d.weight, 400);
  struct expected_t {
    uint32_t id;
    uint16_t atom;
    uint32_t style;
    const char16_t* text;
    int16_t x, y, cx, cy;
  };
  const uint32_t child = 0x50000000u, tab = 0x00010000u, group = 0x00020000u;
  const expected_t want[] = {
      {1, 0x80, child | tab | 0x1, u"OK", 91, 87, 50, 14},
      {2, 0x80, child | tab, u"Cancel", 157, 87, 50, 14},
      {0xFFFFFFFF, 0x80, child | 0x7, u"", 7, 7, 205, 74},
      {301, 0x80, child | tab | 0x3, u"System Health Validator enabled", 14, 7, 120, 10},
      // Two lines, as in the other languages: on one line of 142 units the
      // label wraps and loses "sec." with the dialog font's metrics.
      {0xFFFFFFFF, 0x82, child | group, u"Virus database information cache time, sec.", 15, 55, 142, 16},
      {302, 0x81, child | tab | 0x00800000u | 0x80, u"", 158, 57, 40, 14},
      {0xFFFFFFFF, 0x80, child | 0x7, u"Vexor Update Server", 14, 22, 192, 31},
      {0xFFFFFFFF, 0x82, child | group, u"Address", 18, 33, 27, 8},
      {303, 0x81, child | tab | 0x00800000u | 0x80, u"", 53, 33, 72, 14},
      {0xFFFFFFFF, 0x82, child | group, u"Port", 135, 34, 14, 8},
      {304, 0x81, child | tab | 0x00800000u | 0x80, u"", 158, 33, 40, 14},
  };
  ASSERT_EQ(d.controls.size(), std::size(want));
  for (size_t i = 0; i < std::size(want); ++i) {
    const dialog_control_t& c = d.controls[i];
    EXPECT_EQ(c.id, want[i].id) << i;
    EXPECT_EQ(c.class_atom, want[i].atom) << i;
    EXPECT_EQ(c.style, want[i].style) << i;
    EXPECT_EQ(c.text, want[i].text) << i;
    EXPECT_EQ(c.x, want[i].x) << i;
    EXPECT_EQ(c.y, want[i].y) << i;
    EXPECT_EQ(c.cx, want[i].cx) << i;
    EXPECT_EQ(c.cy, want[i].cy) << i;
  }
  EXPECT_EQ(text(305, 0x0409), u"Incorrect value specified");
  EXPECT_EQ(text(100, 0x0409), u"healthcfg");
}

TEST_F(healthcfg_resources, language_choice_of_the_dialog) {
  ASSERT_NE(module_.get(), nullptr);
  EXPECT_EQ(dialog(0x0407).title, u"Vexor Network Access Protection - Einstellungen");  // German (Germany)
  EXPECT_EQ(dialog(0x0419).title, u"Настройки Vexor Network Access Protection");      // Russian (Russia): 25
  EXPECT_EQ(dialog(0x0402).title, u"Настройки на Vexor Network Access Protection");   // Bulgarian: 1026 exactly
  EXPECT_EQ(dialog(0x0410).title, u"Vexor Network Access Protection Settings");       // Italian: English texts
  EXPECT_EQ(dialog(0x041B).title, u"Vexor Network Access Protection Settings");       // Slovak: English title
  EXPECT_EQ(dialog(0x041B).controls[1].text, u"Zrušiť");
  EXPECT_EQ(dialog(0x0404).title, u"Vexor Network Access Protection Settings");  // Chinese (Taiwan): the neutral one
  EXPECT_EQ(dialog(0x0411).title, u"Vexor Network Access Protection Settings");  // Japanese (Japan)
  EXPECT_EQ(dialog(0x0804).title, u"Vexor 网络访问保护设置");
  EXPECT_EQ(text(305, 0x0411), u"Incorrect value specified");
  EXPECT_EQ(text(306, 0x0411), u"The settings could not be saved: %1");
  EXPECT_EQ(text(305, 0x0C07), u"Ungültiger Wert angegeben");
}

TEST_F(healthcfg_resources, every_language_has_the_same_controls_with_its_own_texts) {
  ASSERT_NE(module_.get(), nullptr);
  const LCID languages[] = {0x0407, 0x0409, 0x040A, 0x040C, 0x0410, 0x0415, 0x0416, 0x0419, 0x0427,
                            0x0402, 0x0408, 0x040E, 0x041B, 0x0422, 0x0425, 0x0426, 0x0804};
  const dialog_template_t english = dialog(0x0409);
  std::set<std::u16string> messages, reasons;
  for (LCID locale : languages) {
    const dialog_template_t d = dialog(locale);
    ASSERT_EQ(d.controls.size(), english.controls.size()) << std::hex << locale;
    EXPECT_FALSE(d.title.empty());
    for (size_t i = 0; i < d.controls.size(); ++i) {
      const dialog_control_t& c = d.controls[i];
      const dialog_control_t& e = english.controls[i];
      EXPECT_EQ(c.id, e.id);
      EXPECT_EQ(c.class_atom, e.class_atom);
      EXPECT_EQ(c.style, e.style);
      EXPECT_EQ(c.text.empty(), e.text.empty()) << std::hex << locale << " control " << i;
      // Inside the dialog.
      EXPECT_GE(c.x, 0);
      EXPECT_LE(c.x + c.cx, d.cx) << std::hex << locale << " control " << i;
      EXPECT_LE(c.y + c.cy, d.cy);
    }
    const std::u16string message = text(305, locale);
    EXPECT_NE(message, u"<default>") << std::hex << locale;
    messages.insert(message);
    EXPECT_EQ(text(100, locale), u"healthcfg");
    // The messages that name a reason: translated everywhere, with its place.
    for (UINT id : {306u, 307u}) {
      const std::u16string with_reason = text(id, locale);
      EXPECT_EQ(with_reason.find(u"%1"), with_reason.rfind(u"%1")) << std::hex << locale << " " << id;
      EXPECT_NE(with_reason.find(u"%1"), std::u16string::npos) << std::hex << locale << " " << id;
      reasons.insert(with_reason);
    }
  }
  // Only Italian repeats the English message.
  EXPECT_EQ(messages.size(), std::size(languages) - 1);
  EXPECT_EQ(reasons.size(), 2 * std::size(languages));
}

}  // namespace
