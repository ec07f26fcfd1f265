// Stand-in for the dialogs and message boxes of the window system: modal
// dialogs from templates, driven by a front end instead of a user. Left out
// on purpose: drawing, input devices, message queues and modeless windows.
//
// There is no window system: a dialog is its template's controls with their
// text, check state, enabled state and focus, driven by the thread's front end
// (dialog_front_end.h) instead of a user. The manager lives once per process
// in libshvseam.so, so that a host and the modules it loads see the same
// windows.
#pragma once

#include "platform/linux/win32_types.h"

// Windows and dialogs.
struct HWND__;
typedef HWND__* HWND;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef INT_PTR (*DLGPROC)(HWND, UINT, WPARAM, LPARAM);
struct DLGTEMPLATE;
typedef const DLGTEMPLATE* LPCDLGTEMPLATEW;

#define WM_INITDIALOG 0x0110u
#define WM_COMMAND 0x0111u
#define BN_CLICKED 0
#define IDOK 1
#define IDCANCEL 2
#define BST_UNCHECKED 0u
#define BST_CHECKED 1u
#define MB_OK 0x00000000u
#define MB_ICONWARNING 0x00000030u
#define MB_ICONEXCLAMATION 0x00000030u
#define MB_ICONERROR 0x00000010u
#define MB_ICONHAND 0x00000010u
// Window data of a dialog: DWLP_USER after the message result and procedure.
#define DWLP_MSGRESULT 0
#define DWLP_DLGPROC 8
#define DWLP_USER 16
#define MAKEWPARAM(l, h) (static_cast<WPARAM>(static_cast<DWORD>(static_cast<WORD>(l) | (static_cast<DWORD>(static_cast<WORD>(h)) << 16))))
#define WS_TABSTOP 0x00010000u
#define WS_DISABLED 0x08000000u

#define SHV_SEAM_API __attribute__((visibility("default")))

// Runs a modal dialog from an extended dialog template inside a module's
// resource section (the template is read only within that section): sends
// WM_INITDIALOG with param, gives the thread's front end the open dialog and
// returns the EndDialog result; -1 with the last error set when the template
// is not a readable one, and 0 with ERROR_INVALID_WINDOW_HANDLE for a parent
// that is not a window, as on Windows.
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
// A dialog or control that exists now.
SHV_SEAM_API BOOL IsWindow(HWND window);
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
