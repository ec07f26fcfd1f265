// The dialog calls of the stand-in's dialog manager. There is no window system:
// a dialog is its template's controls with their text, check state, enabled
// state and focus, driven by the thread's front end (platform/linux/dialog/dialog_front_end.h)
// instead of a user. The manager lives once per process in libshvseam.so, so
// that a host and the modules it loads see the same windows.
#pragma once

#include "platform/linux/win32_types.h"

#define SHV_SEAM_API __attribute__((visibility("default")))

// Runs a modal dialog from an extended dialog template inside a module's
// resource section (the template is read only within that section): sends
// WM_INITDIALOG with param, gives the thread's front end the open dialog and
// returns the EndDialog result; -1 with the last error set when the template
// is not a readable one.
INT_PTR DialogBoxIndirectParamW(HINSTANCE module, LPCDLGTEMPLATEW dialog_template, HWND parent, DLGPROC proc,
                                LPARAM param);

SHV_SEAM_API BOOL EndDialog(HWND dialog, INT_PTR result);
SHV_SEAM_API HWND GetDlgItem(HWND dialog, int id);
SHV_SEAM_API int GetDlgCtrlID(HWND control);
SHV_SEAM_API BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text);
// Copies at most size - 1 characters and a terminator; the count copied.
SHV_SEAM_API UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR text, int size);
SHV_SEAM_API BOOL CheckDlgButton(HWND dialog, int id, UINT check);
SHV_SEAM_API UINT IsDlgButtonChecked(HWND dialog, int id);
// Non-zero when the window was disabled before.
SHV_SEAM_API BOOL EnableWindow(HWND window, BOOL enable);
SHV_SEAM_API BOOL IsWindowEnabled(HWND window);
// The window that had the focus before, or null.
SHV_SEAM_API HWND SetFocus(HWND window);
SHV_SEAM_API HWND GetFocus();
// A dialog's procedure gets the message; 0 for anything else.
SHV_SEAM_API LRESULT SendMessageW(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// Handed to the thread's front end; IDOK. A null caption is the system's
// default, "Error". As on Windows, the owner (a dialog) takes no input while
// the box is shown and gets its focus back afterwards.
SHV_SEAM_API int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
// A dialog's window data: DWLP_USER only (0 for anything else). Set gives
// the previous value.
SHV_SEAM_API LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value);
SHV_SEAM_API LONG_PTR GetWindowLongPtrW(HWND window, int index);
