// The dialog stand-in: its template reader on well-formed and malformed
// templates, and the modal run as a dialog procedure sees it.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/linux/dialog/dialog_front_end.h"
#include "platform/linux/dialog/dialog_manager.h"
#include "platform/win32.h"

namespace {

constexpr uint32_t ds_setfont = 0x40;
constexpr uint32_t bs_autocheckbox = 0x03;

// Writes extended dialog templates field by field.
class template_writer_t {
 public:
  template_writer_t& u16(uint16_t v) {
    b.push_back(static_cast<unsigned char>(v & 0xFF));
    b.push_back(static_cast<unsigned char>(v >> 8));
    return *this;
  }
  template_writer_t& u32(uint32_t v) { return u16(static_cast<uint16_t>(v & 0xFFFF)).u16(static_cast<uint16_t>(v >> 16)); }
  template_writer_t& sz(const std::u16string& s) {
    for (char16_t c : s) u16(c);
    return u16(0);
  }
  template_writer_t& align4() {
    while (b.size() % 4 != 0) b.push_back(0);
    return *this;
  }
  template_writer_t& header(uint32_t style, uint16_t count, const std::u16string& title) {
    u16(1).u16(0xFFFF).u32(0).u32(0).u32(style).u16(count).u16(0).u16(0).u16(100).u16(50);
    u16(0).u16(0).sz(title);
    if (style & ds_setfont) u16(8).u16(400).u16(0x0100).sz(u"MS Shell Dlg");
    return *this;
  }
  template_writer_t& item(uint32_t id, uint16_t atom, uint32_t style, const std::u16string& text, uint16_t extra = 0) {
    align4().u32(0).u32(0).u32(style).u16(1).u16(2).u16(3).u16(4).u32(id).u16(0xFFFF).u16(atom).sz(text).u16(extra);
    for (uint16_t i = 0; i < extra; ++i) b.push_back(0xAB);
    return *this;
  }
  std::vector<unsigned char> b;
};

std::vector<unsigned char> sample_template() {
  template_writer_t w;
  w.header(ds_setfont, 4, u"Title");
  w.item(1, 0x0080, WS_TABSTOP, u"OK");
  w.item(10, 0x0080, WS_TABSTOP | bs_autocheckbox, u"Check");
  w.item(11, 0x0081, WS_TABSTOP | WS_DISABLED, u"", 3);
  w.item(0xFFFFFFFF, 0x0082, 0, u"Label");
  return w.b;
}

bool parse(const std::vector<unsigned char>& bytes, plat::dialog_desc_t& d, std::string& reason) {
  return plat::parse_dialog_template(bytes.data(), bytes.size(), d, reason);
}

TEST(dialog_template, reads_header_font_and_items) {
  plat::dialog_desc_t d;
  std::string reason;
  ASSERT_TRUE(parse(sample_template(), d, reason)) << reason;
  EXPECT_EQ(d.title, u"Title");
  EXPECT_EQ(d.face, u"MS Shell Dlg");
  EXPECT_EQ(d.points, 8);
  ASSERT_EQ(d.items.size(), 4u);
  EXPECT_EQ(d.items[1].id, 10u);
  EXPECT_EQ(d.items[1].text, u"Check");
  EXPECT_EQ(d.items[2].class_atom, 0x0081);
  EXPECT_EQ(d.items[2].creation_size, 3);
  EXPECT_EQ(d.items[3].text, u"Label") << "creation data of the item before was skipped";
}

TEST(dialog_template, every_truncation_is_refused_and_nothing_is_read_beyond) {
  const std::vector<unsigned char> full = sample_template();
  for (size_t n = 0; n < full.size(); ++n) {
    // A copy of exactly n bytes: reading past it is caught by the sanitizers.
    std::vector<unsigned char> cut(full.begin(), full.begin() + static_cast<long>(n));
    plat::dialog_desc_t d;
    d.title = u"untouched";
    std::string reason;
    EXPECT_FALSE(plat::parse_dialog_template(cut.data(), cut.size(), d, reason)) << n;
    EXPECT_EQ(reason, "truncated dialog template") << n;
    EXPECT_EQ(d.title, u"untouched") << "the output is left alone";
  }
}

TEST(dialog_template, malformed_templates_are_refused_with_a_reason) {
  plat::dialog_desc_t d;
  std::string reason;
  template_writer_t plain;  // the older, non-extended layout
  plain.u32(0).u32(0).u16(0).u16(0).u16(0).u16(0).u16(0).u16(0).u16(0).sz(u"");
  EXPECT_FALSE(parse(plain.b, d, reason));
  EXPECT_EQ(reason, "not an extended dialog template");

  template_writer_t menu;
  menu.u16(1).u16(0xFFFF).u32(0).u32(0).u32(0).u16(0).u16(0).u16(0).u16(0).u16(0).u16(0xFFFF).u16(7).u16(0).sz(u"");
  EXPECT_FALSE(parse(menu.b, d, reason));
  EXPECT_EQ(reason, "a dialog with a menu is not supported");

  template_writer_t no_class;
  no_class.header(0, 1, u"t").align4().u32(0).u32(0).u32(0).u16(0).u16(0).u16(0).u16(0).u32(5).u16(0).sz(u"x").u16(0);
  EXPECT_FALSE(parse(no_class.b, d, reason));
  EXPECT_EQ(reason, "a control without a class");

  template_writer_t huge_extra;
  huge_extra.header(0, 1, u"t").item(5, 0x0080, 0, u"x");
  huge_extra.b.resize(huge_extra.b.size() - 2);
  huge_extra.u16(0xFFFF);  // creation data longer than the template
  EXPECT_FALSE(parse(huge_extra.b, d, reason));
  EXPECT_EQ(reason, "truncated dialog template");

  template_writer_t unterminated;
  unterminated.header(0, 0, u"");
  unterminated.b.resize(unterminated.b.size() - 2);
  unterminated.u16(u'A').u16(u'B');  // a title that never ends
  EXPECT_FALSE(parse(unterminated.b, d, reason));

  EXPECT_FALSE(plat::parse_dialog_template(nullptr, 100, d, reason));
}

TEST(dialog_template, class_names_and_ordinal_texts_are_read) {
  template_writer_t w;
  w.header(0, 1, u"t").align4().u32(0).u32(0).u32(0).u16(0).u16(0).u16(0).u16(0).u32(7);
  w.sz(u"MyClass").u16(0xFFFF).u16(42).u16(0);
  plat::dialog_desc_t d;
  std::string reason;
  ASSERT_TRUE(parse(w.b, d, reason)) << reason;
  EXPECT_EQ(d.items[0].class_name, u"MyClass");
  EXPECT_EQ(d.items[0].class_atom, 0);
}

// A dialog procedure that records what it was sent.
struct recorder_t {
  std::vector<std::pair<UINT, WPARAM>> messages;
  LPARAM init_param = 0;
  INT_PTR init_result = TRUE;
};
recorder_t* recorder = nullptr;

INT_PTR WINAPI recording_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  recorder->messages.push_back({message, wparam});
  if (message == WM_INITDIALOG) {
    recorder->init_param = lparam;
    return recorder->init_result;
  }
  if (message == WM_COMMAND && LOWORD(wparam) == IDOK) {
    EndDialog(dialog, 77);
    return TRUE;
  }
  return FALSE;
}

class front_end_t : public plat::dialog_front_end_t {
 public:
  explicit front_end_t(std::function<void(HWND)> f) : f_(std::move(f)) { previous_ = plat::set_dialog_front_end(this); }
  ~front_end_t() override { plat::set_dialog_front_end(previous_); }
  void run(HWND d) override { f_(d); }
  void message_box(HWND owner, const std::u16string& text, const std::u16string& caption, UINT) override {
    boxes.push_back(text + u"|" + caption);
    if (on_box) on_box(owner);
  }
  std::vector<std::u16string> boxes;
  std::function<void(HWND)> on_box;

 private:
  std::function<void(HWND)> f_;
  plat::dialog_front_end_t* previous_;
};

class dialog_run : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string reason;
    ASSERT_TRUE(parse(sample_template(), desc_, reason));
    recorder = &rec_;
  }
  void TearDown() override { recorder = nullptr; }
  INT_PTR run() { return shv_seam_dialog_box(desc_, nullptr, &recording_proc, 1234); }
  plat::dialog_desc_t desc_;
  recorder_t rec_;
};

TEST_F(dialog_run, init_then_the_front_end_then_end_dialog_result) {
  HWND seen = nullptr;
  front_end_t ui([&](HWND d) {
    seen = d;
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), 1) << "the first enabled tab stop";
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(d, 11))) << "WS_DISABLED in the template";
    EXPECT_FALSE(plat::click(d, 11)) << "a disabled control ignores clicks";
    EXPECT_EQ(SetFocus(GetDlgItem(d, 11)), nullptr) << "nor takes the focus";
    EXPECT_TRUE(plat::click(d, 10));
    EXPECT_EQ(IsDlgButtonChecked(d, 10), BST_CHECKED);
    EXPECT_EQ(CheckDlgButton(d, 11, BST_CHECKED), FALSE) << "an edit is no button";
    EXPECT_EQ(plat::dialog_control_ids(d), (std::vector<int>{1, 10, 11, -1}));
    EXPECT_TRUE(plat::dialog_is_open(d));
    plat::click(d, IDOK);
    EXPECT_FALSE(plat::dialog_is_open(d));
    EXPECT_FALSE(plat::click(d, 10)) << "an ended dialog takes no more clicks";
  });
  EXPECT_EQ(run(), 77);
  EXPECT_EQ(rec_.init_param, 1234);
  ASSERT_EQ(rec_.messages.size(), 3u);
  EXPECT_EQ(rec_.messages[0].first, WM_INITDIALOG);
  EXPECT_EQ(rec_.messages[1], (std::pair<UINT, WPARAM>{WM_COMMAND, MAKEWPARAM(10, BN_CLICKED)}));
  EXPECT_EQ(rec_.messages[2], (std::pair<UINT, WPARAM>{WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED)}));
  // The dialog is gone: its handles no longer answer.
  EXPECT_EQ(GetDlgItem(seen, 10), nullptr);
  EXPECT_EQ(EndDialog(seen, 1), FALSE);
  EXPECT_EQ(SetDlgItemTextW(seen, 11, u"x"), FALSE);
  EXPECT_EQ(GetFocus(), nullptr);
}

TEST_F(dialog_run, a_dialog_left_open_is_closed_as_by_its_close_box) {
  front_end_t ui([](HWND) {});
  EXPECT_EQ(run(), IDCANCEL);
  ASSERT_EQ(rec_.messages.size(), 2u);
  EXPECT_EQ(rec_.messages[1], (std::pair<UINT, WPARAM>{WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED)}));
}

TEST_F(dialog_run, without_a_front_end_the_dialog_closes_at_once) {
  EXPECT_EQ(run(), IDCANCEL);
  EXPECT_EQ(rec_.messages.size(), 2u);
}

TEST_F(dialog_run, init_returning_false_sets_no_default_focus) {
  rec_.init_result = FALSE;
  int focus = -5;
  front_end_t ui([&](HWND) { focus = GetDlgCtrlID(GetFocus()); });
  run();
  EXPECT_EQ(focus, 0);
}

TEST_F(dialog_run, texts_are_copied_within_the_callers_buffer) {
  front_end_t ui([](HWND d) {
    ASSERT_TRUE(SetDlgItemTextW(d, 11, u"abcdef"));
    char16_t buffer[4] = {u'x', u'x', u'x', u'x'};
    EXPECT_EQ(GetDlgItemTextW(d, 11, buffer, 4), 3u);
    EXPECT_EQ(std::u16string(buffer), u"abc");
    EXPECT_EQ(GetDlgItemTextW(d, 99, buffer, 4), 0u);
    EXPECT_EQ(buffer[0], u'\0');
    EXPECT_EQ(GetDlgItemTextW(d, 11, buffer, 0), 0u);
  });
  run();
}

// A box owned by the dialog is modal to it: no input meanwhile, the focus
// back where it was afterwards. The dialog's window data is its own.
TEST_F(dialog_run, a_message_box_owned_by_the_dialog_holds_its_input) {
  int clicks_during_box = -1;
  front_end_t ui([&](HWND d) {
    EXPECT_EQ(SetWindowLongPtrW(d, DWLP_USER, 42), 0);
    EXPECT_EQ(GetWindowLongPtrW(d, DWLP_USER), 42);
    SetFocus(GetDlgItem(d, 10));
    EXPECT_EQ(MessageBoxW(d, u"\u0417\u0434\u0440\u0430\u0432\u0441\u0442\u0432\u0443\u0439", nullptr, MB_OK), IDOK);
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), 10);
    EXPECT_TRUE(IsWindowEnabled(d));
    EXPECT_TRUE(plat::click(d, 10));
    EXPECT_EQ(MessageBoxW(nullptr, u"free", u"Caption", MB_OK), IDOK);
  });
  ui.on_box = [&](HWND owner) {
    if (owner == nullptr) return;
    EXPECT_FALSE(IsWindowEnabled(owner));
    EXPECT_EQ(GetFocus(), nullptr) << "the box has it";
    clicks_during_box = plat::click(owner, IDOK) ? 1 : 0;
  };
  run();
  EXPECT_EQ(clicks_during_box, 0) << "a second OK cannot reach the dialog";
  EXPECT_EQ(ui.boxes, (std::vector<std::u16string>{
                          u"\u0417\u0434\u0440\u0430\u0432\u0441\u0442\u0432\u0443\u0439|Error", u"free|Caption"}));
}

TEST(dialog_box, a_template_outside_any_resource_section_is_refused) {
  const std::vector<unsigned char> bytes = sample_template();
  SetLastError(0);
  EXPECT_EQ(DialogBoxIndirectParamW(nullptr, reinterpret_cast<LPCDLGTEMPLATEW>(bytes.data()), nullptr, &recording_proc, 0),
            -1);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
