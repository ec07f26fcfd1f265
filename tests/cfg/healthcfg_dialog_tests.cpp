// The settings dialog as an administrator meets it: shown by InvokeUI, filled
// in and confirmed through the dialog manager's front end.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "common/settings.h"
#include "healthcfg_fixture.h"
#include "store_refusals.h"

extern "C" void* FindResourceW(void* module, const char16_t* name, const char16_t* type);

namespace test_support {
namespace {

constexpr int id_enabled = 301;
constexpr int id_cache_time = 302;
constexpr int id_server = 303;
constexpr int id_port = 304;
void* const fake_lookup = reinterpret_cast<void*>(static_cast<uintptr_t>(0xF0F0));

using healthcfg_dialog = healthcfg_test;

void seed_store() {
  shv_settings::write("server_name", u"central.example");
  shv_settings::write("server_port", 2193u);
  shv_settings::write("server_timeout", 777u);
  shv_settings::write("cache_time", 300u);
  shv_settings::write("validate", 1u);
}

// Fills the three fields and presses OK.
std::function<void(HWND)> enter(const std::u16string& server, const std::u16string& port, const std::u16string& cache) {
  return [=](HWND d) {
    set_text(d, id_server, server);
    set_text(d, id_port, port);
    set_text(d, id_cache_time, cache);
    plat::click(d, IDOK);
  };
}

// The same, and the dialog must have closed.
std::function<void(HWND)> enter_valid(const std::u16string& server, const std::u16string& port,
                                      const std::u16string& cache) {
  return [=](HWND d) {
    enter(server, port, cache)(d);
    EXPECT_FALSE(plat::dialog_is_open(d)) << "a valid OK closes the dialog";
  };
}

TEST_F(healthcfg_dialog, opens_with_the_stored_values) {
  seed_store();
  scripted_front_end_t ui([](HWND d) {
    EXPECT_EQ(text_of(d, id_server), u"central.example");
    EXPECT_EQ(text_of(d, id_port), u"2193");
    EXPECT_EQ(text_of(d, id_cache_time), u"300");
    EXPECT_EQ(IsDlgButtonChecked(d, id_enabled), BST_CHECKED);
    for (int id : {id_server, id_port, id_cache_time}) EXPECT_TRUE(IsWindowEnabled(GetDlgItem(d, id)));
    EXPECT_EQ(plat::dialog_title(d), u"Vexor Network Access Protection Settings");
  });
  invoke(ui);
  EXPECT_EQ(ui.runs, 1);
}

TEST_F(healthcfg_dialog, validation_off_disables_the_fields_until_the_box_is_checked) {
  shv_settings::write("validate", 0u);
  scripted_front_end_t ui([](HWND d) {
    EXPECT_EQ(IsDlgButtonChecked(d, id_enabled), BST_UNCHECKED);
    for (int id : {id_server, id_port, id_cache_time}) EXPECT_FALSE(IsWindowEnabled(GetDlgItem(d, id)));
    ASSERT_TRUE(plat::click(d, id_enabled));
    EXPECT_EQ(IsDlgButtonChecked(d, id_enabled), BST_CHECKED);
    for (int id : {id_server, id_port, id_cache_time}) EXPECT_TRUE(IsWindowEnabled(GetDlgItem(d, id)));
    plat::click(d, id_enabled);
    for (int id : {id_server, id_port, id_cache_time}) EXPECT_FALSE(IsWindowEnabled(GetDlgItem(d, id)));
    plat::click(d, IDCANCEL);
  });
  invoke(ui);
}

TEST_F(healthcfg_dialog, ok_writes_the_four_values_and_leaves_the_time_out) {
  seed_store();
  scripted_front_end_t ui(enter_valid(u"10.0.0.5", u"65535", u"0"));
  EXPECT_EQ(invoke(ui), nullptr) << "no message";
  EXPECT_EQ(shv_settings::read_string("server_name"), u"10.0.0.5");
  EXPECT_EQ(shv_settings::read_number("server_port"), 65535u);
  EXPECT_EQ(shv_settings::read_number("cache_time"), 0u);
  EXPECT_EQ(shv_settings::read_number("validate"), 1u);
  EXPECT_EQ(shv_settings::read_number("server_timeout"), 777u);
}

TEST_F(healthcfg_dialog, port_zero_and_the_largest_cache_time_are_accepted) {
  scripted_front_end_t ui(enter_valid(u"host", u"0", u"4294967295"));
  EXPECT_EQ(invoke(ui), nullptr);
  EXPECT_EQ(shv_settings::read_number("server_port"), 0u);
  EXPECT_EQ(shv_settings::read_number("cache_time"), 4294967295u);
}

struct rejection_t {
  std::u16string server, port, cache;
  int field;
};

class healthcfg_dialog_rejects : public healthcfg_test, public ::testing::WithParamInterface<rejection_t> {};

TEST_P(healthcfg_dialog_rejects, the_first_bad_field_with_message_and_focus_and_writes_nothing) {
  seed_store();
  const std::string before = blob();
  const rejection_t r = GetParam();
  int focus_after_ok = 0;
  bool still_open = false;
  HWND dialog = nullptr;
  scripted_front_end_t ui([&](HWND d) {
    dialog = d;
    set_text(d, id_server, r.server);
    set_text(d, id_port, r.port);
    set_text(d, id_cache_time, r.cache);
    plat::click(d, IDOK);
    focus_after_ok = focus_id(d);
    still_open = plat::dialog_is_open(d) && text_of(d, id_port) == r.port;
    plat::click(d, IDCANCEL);
  });
  const auto* box = invoke(ui);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(ui.boxes.size(), 1u) << "one message for the first bad field only";
  EXPECT_EQ(box->text, u"Incorrect value specified");
  EXPECT_EQ(box->owner, dialog) << "modal to the dialog";
  EXPECT_EQ(box->caption, u"Error") << "the system's default caption";
  EXPECT_EQ(box->type, MB_OK | MB_ICONWARNING);
  EXPECT_EQ(focus_after_ok, r.field);
  EXPECT_TRUE(still_open);
  EXPECT_EQ(blob(), before);
}

INSTANTIATE_TEST_SUITE_P(
    fields, healthcfg_dialog_rejects,
    ::testing::Values(rejection_t{u"host", u"65536", u"10", id_port}, rejection_t{u"host", u"-1", u"10", id_port},
                      rejection_t{u"host", u"+5", u"10", id_port}, rejection_t{u"host", u"", u"10", id_port},
                      rejection_t{u"host", u"80 ", u"10", id_port}, rejection_t{u"host", u"1e3", u"10", id_port},
                      rejection_t{u"host", u"99999999999999999999999", u"10", id_port},
                      rejection_t{u"", u"65536", u"x", id_server}, rejection_t{u"", u"80", u"10", id_server},
                      rejection_t{u"host", u"80", u"4294967296", id_cache_time},
                      rejection_t{u"host", u"80", u"-1", id_cache_time},
                      rejection_t{u"host", u"80", u"", id_cache_time},
                      rejection_t{u"host", u"80", u"\uFF11", id_cache_time}));

TEST_F(healthcfg_dialog, disabled_fields_are_still_checked_and_saved) {
  shv_settings::write("validate", 0u);
  scripted_front_end_t bad(enter(u"host", u"70000", u"5"));
  ASSERT_NE(invoke(bad), nullptr);
  EXPECT_EQ(shv_settings::read_number("server_port"), 2193u);
  scripted_front_end_t good(enter(u"host", u"81", u"5"));
  EXPECT_EQ(invoke(good), nullptr);
  EXPECT_EQ(shv_settings::read_number("server_port"), 81u);
  EXPECT_EQ(shv_settings::read_number("validate"), 0u);
}

TEST_F(healthcfg_dialog, validation_enabled_is_written_as_zero_or_one) {
  shv_settings::write("validate", 7u);
  scripted_front_end_t keep(enter(u"host", u"80", u"5"));
  invoke(keep);
  EXPECT_EQ(reg_value(HKEY_LOCAL_MACHINE, settings_key, u"ValidationEnabled")->number(), 1u);
  scripted_front_end_t off([](HWND d) {
    plat::click(d, id_enabled);
    plat::click(d, IDOK);
  });
  invoke(off);
  EXPECT_EQ(reg_value(HKEY_LOCAL_MACHINE, settings_key, u"ValidationEnabled")->number(), 0u);
}

TEST_F(healthcfg_dialog, cancel_after_editing_leaves_the_store_unchanged) {
  scripted_front_end_t ui([](HWND d) {
    set_text(d, id_server, u"changed");
    set_text(d, id_port, u"1");
    plat::click(d, id_enabled);
    plat::click(d, IDCANCEL);
  });
  invoke(ui);
  EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, settings_key)) << "not even the key";
  seed_store();
  const std::string before = blob();
  scripted_front_end_t closed([](HWND d) { set_text(d, id_server, u"changed"); });  // closed by its close box
  invoke(closed);
  EXPECT_EQ(blob(), before);
}

// A store the administrator may read but not write (the stand-in's store
// file without write bits): OK says why and keeps the dialog open with the
// focus where it was; once writing is allowed again, OK keeps the values.
TEST_F(healthcfg_dialog, a_write_that_fails_keeps_the_dialog_open_and_says_why) {
  seed_store();
  const std::string before = blob();
  ASSERT_EQ(chmod(store_.path().c_str(), 0444), 0);
  HWND dialog = nullptr;
  bool open_after_refused_ok = false;
  int focus_after_refused_ok = 0;
  std::string stored_after_refused_ok;
  scripted_front_end_t ui([&](HWND d) {
    dialog = d;
    set_text(d, id_server, u"new.example");
    set_text(d, id_port, u"2000");
    set_text(d, id_cache_time, u"5");
    SetFocus(GetDlgItem(d, id_cache_time));
    plat::click(d, IDOK);
    open_after_refused_ok = plat::dialog_is_open(d);
    focus_after_refused_ok = focus_id(d);
    stored_after_refused_ok = blob();
    chmod(store_.path().c_str(), 0644);
    plat::click(d, IDOK);
  });
  const auto* box = invoke(ui);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(box->text, u"The settings could not be saved: Access is denied.");
  EXPECT_EQ(box->owner, dialog);
  EXPECT_EQ(box->type, MB_OK | MB_ICONERROR);
  EXPECT_TRUE(open_after_refused_ok);
  EXPECT_EQ(focus_after_refused_ok, id_cache_time);
  EXPECT_EQ(stored_after_refused_ok, before);
  EXPECT_EQ(shv_settings::read_string("server_name"), u"new.example") << "the second OK kept them";
  EXPECT_EQ(shv_settings::read_number("cache_time"), 5u);
}

// One value refused: what OK had written goes back, and the dialog says why
// as for a store that refuses every write.
TEST_F(healthcfg_dialog, an_ok_refused_part_way_keeps_the_old_settings_and_says_why) {
  seed_store();
  const std::string before = blob();
  test_support::store_refusals_t refusals;
  refusals.refuse_set(u"CacheTime");
  bool open_after_ok = false;
  std::string stored_after_ok;
  scripted_front_end_t ui([&](HWND d) {
    enter(u"new.example", u"2000", u"5")(d);
    open_after_ok = plat::dialog_is_open(d);
    stored_after_ok = blob();
    plat::click(d, IDCANCEL);
  });
  const auto* box = invoke(ui);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text, u"The settings could not be saved: Access is denied.");
  EXPECT_TRUE(open_after_ok);
  EXPECT_EQ(stored_after_ok, before) << "not the new server with the old cache time";
}

// Defaults in the dialog would be written over the real settings on OK.
TEST_F(healthcfg_dialog, settings_that_cannot_be_read_show_the_reason_and_no_dialog) {
  seed_store();
  ASSERT_EQ(chmod(store_.path().c_str(), 0000), 0);
  scripted_front_end_t ui([](HWND) {});
  EXPECT_EQ(config_->InvokeUI(nullptr), static_cast<HRESULT>(0x80070005));
  EXPECT_EQ(ui.runs, 0);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, u"The settings could not be read: Access is denied.");
  EXPECT_EQ(ui.boxes[0].type, MB_OK | MB_ICONERROR);
  EXPECT_EQ(FindResourceW(module_, nullptr, nullptr), fake_lookup) << "the hook is gone";
}

TEST_F(healthcfg_dialog, a_long_address_is_cut_to_1022_characters) {
  scripted_front_end_t ui(enter(std::u16string(1500, u'a'), u"80", u"5"));
  invoke(ui);
  EXPECT_EQ(shv_settings::read_string("server_name"), std::u16string(1022, u'a'));
}

TEST_F(healthcfg_dialog, german_thread_locale_shows_the_german_dialog_and_message) {
  SetThreadLocale(0x0407);
  std::u16string title;
  scripted_front_end_t ui([&](HWND d) {
    title = plat::dialog_title(d);
    EXPECT_EQ(text_of(d, IDCANCEL), u"Abbrechen");
    set_text(d, id_server, u"");
    plat::click(d, IDOK);
    plat::click(d, IDCANCEL);
  });
  const auto* box = invoke(ui);
  EXPECT_EQ(title, u"Vexor Network Access Protection - Einstellungen");
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text, u"Ung\u00FCltiger Wert angegeben");
}

// Text in the thread's language reaches the box as it is, whatever the
// system's code page; the box holds the dialog's input while it is shown.
TEST_F(healthcfg_dialog, the_message_keeps_its_letters_and_a_second_ok_cannot_stack_another) {
  SetThreadLocale(0x0419);
  bool ok_reached_the_dialog = true;
  scripted_front_end_t ui([](HWND d) {
    set_text(d, id_port, u"65536");
    plat::click(d, IDOK);
    plat::click(d, IDCANCEL);
  });
  ui.on_box = [&](HWND owner) { ok_reached_the_dialog = plat::click(owner, IDOK); };
  invoke(ui);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, u"\u0423\u043A\u0430\u0437\u0430\u043D\u043E \u043D\u0435\u0432\u0435\u0440\u043D\u043E\u0435 "
                              u"\u0437\u043D\u0430\u0447\u0435\u043D\u0438\u0435");
  EXPECT_FALSE(ok_reached_the_dialog);
}

TEST_F(healthcfg_dialog, languages_without_their_own_dialog_get_the_english_one) {
  for (LCID locale : {0x0411u /* Japanese */, 0x0404u /* Chinese, Taiwan */, 0x0413u /* Dutch */}) {
    SetThreadLocale(locale);
    std::u16string title;
    scripted_front_end_t ui([&](HWND d) {
      title = plat::dialog_title(d);
      set_text(d, id_server, u"");
      plat::click(d, IDOK);
    });
    const auto* box = invoke(ui);
    EXPECT_EQ(title, u"Vexor Network Access Protection Settings") << std::hex << locale;
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text, u"Incorrect value specified");
  }
  SetThreadLocale(0x0419);  // Russian, Russia: the neutral Russian resources, not the fallback
  std::u16string title;
  scripted_front_end_t ui([&](HWND d) { title = plat::dialog_title(d); });
  invoke(ui);
  EXPECT_EQ(title, u"\u041D\u0430\u0441\u0442\u0440\u043E\u0439\u043A\u0438 Vexor Network Access Protection");
}

TEST_F(healthcfg_dialog, the_resource_lookup_is_redirected_while_the_dialog_is_open) {
  ASSERT_EQ(FindResourceW(module_, nullptr, nullptr), fake_lookup);
  void* during = fake_lookup;
  scripted_front_end_t ui([&](HWND) {
    during = FindResourceW(module_, reinterpret_cast<const char16_t*>(uintptr_t{300}),
                           reinterpret_cast<const char16_t*>(uintptr_t{5}));
  });
  invoke(ui);
  EXPECT_NE(during, fake_lookup);
  EXPECT_NE(during, nullptr) << "the module's dialog in the thread's language";
  EXPECT_EQ(FindResourceW(module_, nullptr, nullptr), fake_lookup) << "restored after the dialog";
}

// A network policy's configuration as the console edits it: the dialog over
// a blob the console keeps; what OK gives back is the console's to store, and
// nothing reaches the registry.
TEST_F(healthcfg_dialog, a_blob_is_edited_in_memory_ok_returns_it_and_cancel_changes_nothing) {
  seed_store();
  const std::string before = blob();
  base_n::com_ptr_t<INapComponentConfig2> second;
  ASSERT_EQ(config_->QueryInterface(IID_INapComponentConfig2, second.out_void()), S_OK);
  shv_settings::values_t vpn = shv_settings::default_values();
  vpn.server_name = u"vpn.example";
  vpn.server_port = 2200;
  vpn.server_timeout = 800;
  std::string given = shv_settings::to_blob(vpn);
  auto edit = [&](UINT16& count, BYTE*& data, BOOL& changed) {
    return second->InvokeUIFromConfigBlob(nullptr, static_cast<UINT16>(given.size()),
                                          reinterpret_cast<BYTE*>(given.data()), &count, &data, &changed);
  };
  UINT16 count = 0;
  BYTE* data = nullptr;
  BOOL changed = FALSE;
  {
    scripted_front_end_t ui([](HWND d) {
      EXPECT_EQ(text_of(d, id_server), u"vpn.example") << "the blob's values, not the registry's";
      EXPECT_EQ(text_of(d, id_port), u"2200");
      enter_valid(u"vpn2.example", u"2300", u"45")(d);
    });
    ASSERT_EQ(edit(count, data, changed), S_OK);
  }
  shv_settings::values_t expected = vpn;
  expected.server_name = u"vpn2.example";
  expected.server_port = 2300;
  expected.cache_time = 45;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), count), shv_settings::to_blob(expected));
  EXPECT_EQ(changed, TRUE);
  CoTaskMemFree(data);
  {
    scripted_front_end_t ui([](HWND d) { plat::click(d, IDOK); });
    ASSERT_EQ(edit(count, data, changed), S_OK);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), count), given) << "OK alone gives the blob back";
    EXPECT_EQ(changed, FALSE);
    CoTaskMemFree(data);
  }
  {
    scripted_front_end_t ui([](HWND d) {
      set_text(d, id_server, u"cancelled.example");
      plat::click(d, IDCANCEL);
    });
    count = 7;
    changed = TRUE;
    ASSERT_EQ(edit(count, data, changed), S_OK);
    EXPECT_EQ(changed, FALSE);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(data, nullptr);
  }
  EXPECT_EQ(blob(), before);
  EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, settings_key + u"\\Configurations"));

  scripted_front_end_t never([](HWND) { ADD_FAILURE() << "a dialog for a malformed blob"; });
  given.pop_back();
  EXPECT_EQ(edit(count, data, changed), E_INVALIDARG);
  EXPECT_EQ(second->InvokeUIFromConfigBlob(nullptr, 24, nullptr, &count, &data, &changed), E_POINTER);
  EXPECT_EQ(second->InvokeUIFromConfigBlob(nullptr, 0, nullptr, &count, nullptr, &changed), E_POINTER);
}

// The system's dialog code refuses an owner that is not a window. The console
// takes InvokeUI's S_OK as ever (the failure is logged); a blob's edit is not
// "unchanged" but the error.
TEST_F(healthcfg_dialog, a_dialog_that_cannot_be_shown_is_logged_and_no_blob_edit) {
  HWND not_a_window = reinterpret_cast<HWND>(uintptr_t{0x5A5A0});
  const debug_output_t debug(store_.dir());
  scripted_front_end_t ui([](HWND) { ADD_FAILURE() << "a dialog over no window"; });
  EXPECT_EQ(config_->InvokeUI(not_a_window), S_OK);
  EXPECT_TRUE(debug.has("[SettingsDialog] the dialog could not be shown because of error 0x80070578")) << debug.text();
  base_n::com_ptr_t<INapComponentConfig2> second;
  ASSERT_EQ(config_->QueryInterface(IID_INapComponentConfig2, second.out_void()), S_OK);
  std::string given = shv_settings::to_blob(shv_settings::default_values());
  UINT16 count = 7;
  BYTE* data = reinterpret_cast<BYTE*>(&count);
  BOOL changed = TRUE;
  EXPECT_EQ(second->InvokeUIFromConfigBlob(not_a_window, static_cast<UINT16>(given.size()),
                                           reinterpret_cast<BYTE*>(given.data()), &count, &data, &changed),
            HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_EQ(count, 0);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(changed, FALSE);
  EXPECT_EQ(FindResourceW(module_, nullptr, nullptr), fake_lookup) << "the hook is gone";
}

TEST_F(healthcfg_dialog, the_hook_is_removed_when_the_dialog_code_throws) {
  scripted_front_end_t ui([&](HWND) { throw std::runtime_error("front end failed"); });
  EXPECT_EQ(config_->InvokeUI(nullptr), E_FAIL) << "a failure, not a success";
  EXPECT_EQ(ui.runs, 1);
  EXPECT_EQ(FindResourceW(module_, nullptr, nullptr), fake_lookup);
  scripted_front_end_t again(enter(u"after", u"1", u"2"));
  invoke(again);
  EXPECT_EQ(shv_settings::read_string("server_name"), u"after") << "the next dialog works";
}

}  // namespace
}  // namespace test_support

namespace test_support {
namespace {

// The module's log lines reach the debugger output (here a file) once the
// module is loaded, the hook's success line among them.
TEST_F(healthcfg_dialog, the_module_logs_the_hook_to_the_debugger_output) {
  const std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
  const debug_output_t debug(store_.dir());
  EXPECT_EQ(config_->InvokeUI(nullptr), S_OK);
  EXPECT_TRUE(debug.has("[ApiHook] FindResourceW from kernel32.dll hooked in module " + exe)) << debug.text();
}

}  // namespace
}  // namespace test_support

namespace test_support {
namespace {

TEST_F(healthcfg_dialog, numbers_may_carry_leading_zeros) {
  scripted_front_end_t ui(enter_valid(u"host", std::u16string(200, u'0') + u"8080", u"007"));
  invoke(ui);
  EXPECT_EQ(shv_settings::read_number("server_port"), 8080u);
  EXPECT_EQ(shv_settings::read_number("cache_time"), 7u);
}

}  // namespace
}  // namespace test_support
