// The settings dialog's procedure. OK checks the fields in the order address,
// port, cache time and reports only the first bad one; nothing is written
// unless all three are valid.
#include "cfg/settings_dialog.h"

#include <cstdint>
#include <optional>
#include <string>

#include "base/resources.h"
#include "cfg/config_module.h"
#include "common/settings.h"
#include "kern/exceptions.h"
#include "kern/logger.h"
#include "kern/numstrings.h"
#include "kern/runnable.h"
#include "kern/unicode.h"

namespace shv_cfg {

namespace {

// The address field keeps at most this many characters, terminator included.
constexpr int server_text_limit = 1023;
// Number fields are read as far as the address field; a text that fills the
// whole buffer may have been cut and is no number.
constexpr int number_text_limit = 1024;
constexpr int following_controls[] = {id_server, id_port, id_cache_time};

std::u16string field_text(HWND dialog, int id, int limit) {
  std::u16string text(static_cast<size_t>(limit), u'\0');
  const UINT n = GetDlgItemTextW(dialog, id, plat::wstr(text.data()), limit);
  text.resize(n);
  return text;
}

void set_number(HWND dialog, int id, uint32_t value) {
  SetDlgItemTextW(dialog, id, plat::wstr(to_wide(std::to_string(value)).c_str()));
}

// The field as an unsigned number up to max (no sign, digits only; leading
// zeros allowed); none when it is not one.
std::optional<uint64_t> field_number(HWND dialog, int id, uint64_t max) {
  const std::u16string text = field_text(dialog, id, number_text_limit);
  if (text.size() >= number_text_limit - 1) return std::nullopt;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
  }
  const std::string narrow = to_narrow(text);
  try {
    const uint64_t value = kern_n::string_to_number<uint64_t>(lstr_t(narrow.data(), narrow.size()), false, true);
    if (value > max) return std::nullopt;
    return value;
  } catch (const number_format_exception_shell_t&) {
    return std::nullopt;
  }
}

void on_init(HWND dialog) {
  SetDlgItemTextW(dialog, id_server, plat::wstr(shv_settings::read_string("server_name").c_str()));
  set_number(dialog, id_port, shv_settings::read_number("server_port"));
  set_number(dialog, id_cache_time, shv_settings::read_number("cache_time"));
  CheckDlgButton(dialog, id_enabled, shv_settings::read_number("validate") != 0 ? BST_CHECKED : BST_UNCHECKED);
  update_enabled(dialog);
}

void report_bad_field(HWND dialog, int id) {
  const std::u16string message = base_n::load_string_resource(string_incorrect_value, module_handle(), u"");
  std::string ansi;
  from_unicode_to_cp(ansi, message);
  MessageBoxA(nullptr, ansi.c_str(), nullptr, MB_OK | MB_ICONWARNING);
  SetFocus(GetDlgItem(dialog, id));
}

// TRUE when the dialog closed with the values written.
INT_PTR on_ok(HWND dialog) {
  const bool enabled = IsDlgButtonChecked(dialog, id_enabled) == BST_CHECKED;
  const std::u16string server = field_text(dialog, id_server, server_text_limit);
  if (server.empty()) {
    report_bad_field(dialog, id_server);
    return FALSE;
  }
  const std::optional<uint64_t> port = field_number(dialog, id_port, 65535);
  if (!port) {
    report_bad_field(dialog, id_port);
    return FALSE;
  }
  const std::optional<uint64_t> cache_time = field_number(dialog, id_cache_time, UINT32_MAX);
  if (!cache_time) {
    report_bad_field(dialog, id_cache_time);
    return FALSE;
  }
  shv_settings::write("server_name", server);
  shv_settings::write("server_port", static_cast<uint32_t>(*port));
  shv_settings::write("cache_time", static_cast<uint32_t>(*cache_time));
  shv_settings::write("validate", enabled ? 1u : 0u);
  EndDialog(dialog, IDOK);
  return TRUE;
}

INT_PTR on_command(HWND dialog, WPARAM wparam) {
  switch (LOWORD(wparam)) {
    case id_enabled:
      if (HIWORD(wparam) == BN_CLICKED) update_enabled(dialog);
      return FALSE;
    case IDCANCEL:
      EndDialog(dialog, IDCANCEL);
      return TRUE;
    case IDOK:
      return on_ok(dialog);
    default:
      return FALSE;
  }
}

}  // namespace

void update_enabled(HWND dialog) {
  const BOOL enable = IsDlgButtonChecked(dialog, id_enabled) == BST_CHECKED ? TRUE : FALSE;
  for (int id : following_controls) EnableWindow(GetDlgItem(dialog, id), enable);
}

INT_PTR WINAPI settings_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  (void)lparam;
  // Called by the system's dialog code: nothing may be thrown back into it.
  try {
    if (message == WM_INITDIALOG) {
      on_init(dialog);
      return TRUE;
    }
    if (message == WM_COMMAND) return on_command(dialog, wparam);
  } catch (...) {
    const std::string why = kern_n::describe_current_exception();
    KLOG(lvl_error, "[SettingsDialog] message 0x%04X failed because of %s", message, why.c_str());
  }
  return FALSE;
}

INT_PTR show_settings_dialog(HMODULE module, HWND parent) {
  HRSRC resource = base_n::find_resource<WCHAR>(module, MAKEINTRESOURCEW(dialog_id), MAKEINTRESOURCEW(base_n::rt_dialog));
  HGLOBAL loaded = resource != nullptr ? LoadResource(module, resource) : nullptr;
  const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (bytes == nullptr) return -1;
  return DialogBoxIndirectParamW(module, static_cast<LPCDLGTEMPLATEW>(bytes), parent, &settings_dialog_proc, 0);
}

}  // namespace shv_cfg
