// The settings dialog: validation on or off, the central server's address and
// port, and the verdict cache time, read from the settings store when it
// opens and written back on a valid OK.
#pragma once

#include "platform/win32.h"

namespace shv_cfg {

// Control ids of dialog 300 and the string ids of the module.
constexpr int dialog_id = 300;
constexpr int id_enabled = 301;
constexpr int id_cache_time = 302;
constexpr int id_server = 303;
constexpr int id_port = 304;
constexpr UINT string_incorrect_value = 305;

// Shows dialog 300 of module in the thread's language, modally over parent;
// the dialog's result, or -1 when no template fits the thread's language.
INT_PTR show_settings_dialog(HMODULE module, HWND parent);

// The dialog procedure.
INT_PTR WINAPI settings_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// Enables the server, port and cache-time fields when the check box is checked.
void update_enabled(HWND dialog);

}  // namespace shv_cfg
