// What stands in for the user of a modal dialog on Linux: a front end that a
// host (a test, naphost) installs on its thread. While the dialog is open the
// front end reads and changes the controls through the dialog calls and
// clicks them as a user would.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

namespace plat {

class dialog_front_end_t {
 public:
  virtual ~dialog_front_end_t() = default;
  // The dialog is open (WM_INITDIALOG done). When this returns with the
  // dialog still open, it is closed as by its close box (IDCANCEL).
  virtual void run(HWND dialog) = 0;
  // A message box is shown (its text and caption); its owner takes no input
  // until this returns.
  virtual void message_box(HWND owner, const std::u16string& text, const std::u16string& caption, UINT type) = 0;
};

// The calling thread's front end; returns the one it replaces. Without one,
// a dialog is closed at once as by its close box.
SHV_SEAM_API dialog_front_end_t* set_dialog_front_end(dialog_front_end_t* front_end);

// A user's click on control id: an enabled auto check box toggles, then the
// dialog gets WM_COMMAND (id, BN_CLICKED). A disabled or missing control, or
// a disabled dialog (one that owns a message box), ignores the click; false
// then.
SHV_SEAM_API bool click(HWND dialog, int id);

// True while dialog runs and has not been ended (EndDialog).
SHV_SEAM_API bool dialog_is_open(HWND dialog);

// Facts of an open dialog for a front end: its title, its controls' ids in
// template order, and the text of a control (empty for none).
SHV_SEAM_API std::u16string dialog_title(HWND dialog);
SHV_SEAM_API std::vector<int> dialog_control_ids(HWND dialog);
SHV_SEAM_API std::u16string control_text(HWND dialog, int id);

}  // namespace plat
