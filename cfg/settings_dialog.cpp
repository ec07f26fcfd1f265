// The settings dialog's procedure. OK checks the fields in the order address,
// port, cache time and reports only the first bad one; nothing is written
// unless all three are valid, and a write that fails keeps the dialog open.
#include "cfg/settings_dialog.h"

#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "base/resources.h"
#include "cfg/config_module.h"
#include "common/nap_common.h"
#include "common/settings.h"
#include "kern/exceptions.h"
#include "kern/logger.h"
#include "kern/numstrings.h"
#include "kern/runnable.h"
#include "kern/strings.h"
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
  SetDlgItemTextW(dialog, id, plat::wstr(to_wide(string_format("%u", static_cast<unsigned>(value))).c_str()));
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

// What one open dialog works on: the source and the values it gave.
struct dialog_state_t {
  settings_source_t& source;
  shv_settings::values_t values;
};

dialog_state_t* state_of(HWND dialog) { return reinterpret_cast<dialog_state_t*>(GetWindowLongPtrW(dialog, DWLP_USER)); }

// The system's text of a Win32 error in the thread's language, without its
// line end.
std::u16string system_text(DWORD error) {
  WCHAR buffer[512];
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                 buffer, static_cast<DWORD>(std::size(buffer)), nullptr);
  std::u16string text(plat::u16(buffer), n < std::size(buffer) ? n : 0);
  while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' ')) text.pop_back();
  if (text.empty()) text = to_wide(string_format("error %lu", static_cast<unsigned long>(error)));
  return text;
}

// The Win32 error an HRESULT carries, or the HRESULT itself.
DWORD win32_error(HRESULT hr) {
  return HRESULT_FACILITY(hr) == FACILITY_WIN32 ? static_cast<DWORD>(HRESULT_CODE(hr)) : static_cast<DWORD>(hr);
}

// String id in the thread's language as a message box of owner, which it is
// modal to; "%1" in the text becomes the system's text of error. Wide text
// throughout: the thread's language need not be the system code page's.
void show_message(HWND owner, UINT id, UINT icon, DWORD error = ERROR_SUCCESS) {
  std::u16string text = base_n::load_string_resource(id, module_handle(), error != ERROR_SUCCESS ? u"%1" : u"");
  if (const size_t at = text.find(u"%1"); at != std::u16string::npos) text.replace(at, 2, system_text(error));
  MessageBoxW(owner, plat::wstr(text.c_str()), nullptr, MB_OK | icon);
}

void on_init(HWND dialog, dialog_state_t& state) {
  SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(&state));
  SetDlgItemTextW(dialog, id_server, plat::wstr(state.values.server_name.c_str()));
  set_number(dialog, id_port, state.values.server_port);
  set_number(dialog, id_cache_time, state.values.cache_time);
  CheckDlgButton(dialog, id_enabled, state.values.validate != 0 ? BST_CHECKED : BST_UNCHECKED);
  update_enabled(dialog);
}

void report_bad_field(HWND dialog, int id) {
  show_message(dialog, string_incorrect_value, MB_ICONWARNING);
  SetFocus(GetDlgItem(dialog, id));
}

// TRUE when the dialog closed with the values kept.
INT_PTR on_ok(HWND dialog) {
  dialog_state_t* state = state_of(dialog);
  if (state == nullptr) return FALSE;
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
  shv_settings::values_t values = state->values;
  values.server_name = server;
  values.server_port = static_cast<uint32_t>(*port);
  values.cache_time = static_cast<uint32_t>(*cache_time);
  values.validate = enabled ? 1u : 0u;
  if (const DWORD error = state->source.write(values); error != ERROR_SUCCESS) {
    // Not kept: the administrator hears why and may try again or cancel,
    // with the focus where it was.
    HWND focus = GetFocus();
    show_message(dialog, string_not_saved, MB_ICONERROR, error);
    if (focus != nullptr) SetFocus(focus);
    return FALSE;
  }
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

// The dialog of the thread's language over parent: S_OK once it has closed,
// else why it could not be shown (no template that fits, or the system's
// dialog code refused: 0 for a parent that is no window, -1 otherwise).
HRESULT show_settings_dialog(HMODULE module, HWND parent, dialog_state_t& state) {
  SetLastError(ERROR_SUCCESS);
  HRSRC resource = base_n::find_resource<WCHAR>(module, MAKEINTRESOURCEW(dialog_id), MAKEINTRESOURCEW(base_n::rt_dialog));
  HGLOBAL loaded = resource != nullptr ? LoadResource(module, resource) : nullptr;
  const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
  const INT_PTR result = bytes == nullptr ? -1
                                          : DialogBoxIndirectParamW(module, static_cast<LPCDLGTEMPLATEW>(bytes), parent,
                                                                    &settings_dialog_proc, reinterpret_cast<LPARAM>(&state));
  if (result != 0 && result != -1) return S_OK;
  const DWORD error = GetLastError();
  const HRESULT hr = error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
  KLOG(lvl_error, "[SettingsDialog] the dialog could not be shown because of error 0x%08X", static_cast<unsigned>(hr));
  return hr;
}

// The dialog edits these; the server time-out is left as it is.
const std::vector<const char*> edited_settings = {"server_name", "server_port", "cache_time", "validate"};

}  // namespace

shv_settings::values_t registry_source_t::read() { return shv_settings::read_stored(); }

DWORD registry_source_t::write(const shv_settings::values_t& values) {
  return shv_settings::write_values(values, edited_settings).error;
}

DWORD blob_source_t::write(const shv_settings::values_t& values) {
  kept_ = values;
  return ERROR_SUCCESS;
}

void update_enabled(HWND dialog) {
  const BOOL enable = IsDlgButtonChecked(dialog, id_enabled) == BST_CHECKED ? TRUE : FALSE;
  for (int id : following_controls) EnableWindow(GetDlgItem(dialog, id), enable);
}

INT_PTR WINAPI settings_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  // Called by the system's dialog code: nothing may be thrown back into it.
  try {
    if (message == WM_INITDIALOG) {
      if (lparam == 0) {
        EndDialog(dialog, -1);
        return FALSE;
      }
      on_init(dialog, *reinterpret_cast<dialog_state_t*>(lparam));
      return TRUE;
    }
    if (message == WM_COMMAND) return on_command(dialog, wparam);
  } catch (...) {
    const std::string why = kern_n::describe_current_exception();
    KLOG(lvl_error, "[SettingsDialog] message 0x%04X failed because of %s", message, why.c_str());
  }
  return FALSE;
}

edit_result_t edit_settings(HMODULE module, HWND parent, settings_source_t& source) {
  dialog_state_t state{source, {}};
  edit_result_t result;
  try {
    state.values = source.read();
  } catch (const napcommon::com_error_t& e) {
    // Defaults in the dialog would be written over the real settings on OK.
    KLOG(lvl_error, "[SettingsDialog] no dialog: %s", e.what());
    show_message(parent, string_not_read, MB_ICONERROR, win32_error(e.code()));
    result.read = e.code();
    return result;
  }
  result.shown = show_settings_dialog(module, parent, state);
  return result;
}

}  // namespace shv_cfg
