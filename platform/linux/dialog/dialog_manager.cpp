// The stand-in's dialog manager: windows are plain records of the template's
// controls, the modal loop is the thread's front end. Handles are checked
// against the live windows, so a stale or foreign handle fails like on
// Windows instead of touching freed memory.
#include "platform/linux/dialog/dialog_manager.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <set>
#include <utility>

#include "platform/linux/dialog/dialog_front_end.h"

struct HWND__ {
  HWND__* dialog = nullptr;  // the owning dialog; itself for a dialog
  int id = 0;
  uint16_t class_atom = 0;
  uint32_t style = 0;
  std::u16string text;
  UINT check = BST_UNCHECKED;
  bool enabled = true;
  // A dialog's own state.
  std::vector<std::unique_ptr<HWND__>> controls;
  DLGPROC proc = nullptr;
  LONG_PTR user_data = 0;
  bool ended = false;
  INT_PTR result = 0;
};

namespace {

constexpr uint16_t atom_button = 0x0080;
constexpr uint32_t bs_type_mask = 0x0F;
constexpr uint32_t bs_autocheckbox = 0x03;

std::mutex live_lock;
std::set<const HWND__*>& live() {
  static auto* windows = new std::set<const HWND__*>;  // outlives late callers
  return *windows;
}

bool is_live(const HWND__* w) {
  const std::lock_guard<std::mutex> hold(live_lock);
  return w != nullptr && live().count(w) != 0;
}

// Registers a window for its lifetime.
class live_window_t {
 public:
  explicit live_window_t(HWND__* w) : w_(w) {
    const std::lock_guard<std::mutex> hold(live_lock);
    live().insert(w_);
  }
  ~live_window_t() {
    const std::lock_guard<std::mutex> hold(live_lock);
    live().erase(w_);
  }
  live_window_t(const live_window_t&) = delete;
  live_window_t& operator=(const live_window_t&) = delete;

 private:
  HWND__* w_;
};

thread_local plat::dialog_front_end_t* front_end = nullptr;
thread_local HWND focused = nullptr;

HWND__* dialog_of(HWND w) { return is_live(w) ? w->dialog : nullptr; }

HWND__* item(HWND dialog, int id) {
  if (!is_live(dialog) || dialog->dialog != dialog) return nullptr;
  for (const auto& c : dialog->controls) {
    if (c->id == id) return c.get();
  }
  return nullptr;
}

bool is_auto_check_box(const HWND__* c) {
  return c->class_atom == atom_button && (c->style & bs_type_mask) == bs_autocheckbox;
}

// The default focus after WM_INITDIALOG returned TRUE: the first enabled tab stop.
void set_default_focus(HWND__* dialog) {
  for (const auto& c : dialog->controls) {
    if (c->enabled && (c->style & WS_TABSTOP)) {
      focused = c.get();
      return;
    }
  }
  focused = nullptr;
}

void close_as_by_close_box(HWND__* dialog) {
  if (dialog->ended) return;
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  if (!dialog->ended) {
    dialog->ended = true;
    dialog->result = IDCANCEL;
  }
}

}  // namespace

SHV_SEAM_API INT_PTR shv_seam_dialog_box(const plat::dialog_desc_t& desc, HWND parent, DLGPROC proc, LPARAM param) {
  if (proc == nullptr) return -1;
  (void)parent;  // no owner to disable: nothing else takes input meanwhile
  HWND__ dialog;
  dialog.dialog = &dialog;
  dialog.style = desc.style;
  dialog.text = desc.title;
  dialog.proc = proc;
  std::vector<std::unique_ptr<live_window_t>> registered;
  registered.push_back(std::make_unique<live_window_t>(&dialog));
  for (const plat::dialog_item_t& d : desc.items) {
    auto c = std::make_unique<HWND__>();
    c->dialog = &dialog;
    c->id = static_cast<int>(static_cast<int16_t>(d.id & 0xFFFF)) == -1 ? -1 : static_cast<int>(d.id);
    c->class_atom = d.class_atom;
    c->style = d.style;
    c->text = d.text;
    c->enabled = (d.style & WS_DISABLED) == 0;
    registered.push_back(std::make_unique<live_window_t>(c.get()));
    dialog.controls.push_back(std::move(c));
  }
  // The focus of an enclosing dialog comes back however this one ends,
  // also when a front end throws.
  struct focus_keeper_t {
    HWND saved = std::exchange(focused, nullptr);
    ~focus_keeper_t() { focused = saved; }
  } keep_focus;
  if (proc(&dialog, WM_INITDIALOG, 0, param) != FALSE) set_default_focus(&dialog);
  if (!dialog.ended && front_end != nullptr) front_end->run(&dialog);
  close_as_by_close_box(&dialog);
  return dialog.result;
}

SHV_SEAM_API BOOL EndDialog(HWND dialog, INT_PTR result) {
  if (!is_live(dialog) || dialog->dialog != dialog) return FALSE;
  dialog->ended = true;
  dialog->result = result;
  return TRUE;
}

SHV_SEAM_API HWND GetDlgItem(HWND dialog, int id) { return item(dialog, id); }

SHV_SEAM_API int GetDlgCtrlID(HWND control) { return is_live(control) ? control->id : 0; }

SHV_SEAM_API BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text) {
  HWND__* c = item(dialog, id);
  if (c == nullptr) return FALSE;
  c->text = text != nullptr ? std::u16string(text) : std::u16string();
  return TRUE;
}

SHV_SEAM_API UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR text, int size) {
  HWND__* c = item(dialog, id);
  if (text == nullptr || size <= 0) return 0;
  text[0] = 0;
  if (c == nullptr) return 0;
  const size_t n = std::min(c->text.size(), static_cast<size_t>(size - 1));
  std::copy_n(c->text.data(), n, text);
  text[n] = 0;
  return static_cast<UINT>(n);
}

SHV_SEAM_API BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
  HWND__* c = item(dialog, id);
  if (c == nullptr || c->class_atom != atom_button) return FALSE;
  c->check = check;
  return TRUE;
}

SHV_SEAM_API UINT IsDlgButtonChecked(HWND dialog, int id) {
  HWND__* c = item(dialog, id);
  return c != nullptr && c->class_atom == atom_button ? c->check : BST_UNCHECKED;
}

SHV_SEAM_API BOOL EnableWindow(HWND window, BOOL enable) {
  if (!is_live(window)) return FALSE;
  const bool was_disabled = !window->enabled;
  window->enabled = enable != FALSE;
  if (!window->enabled && focused == window) focused = nullptr;
  return was_disabled ? TRUE : FALSE;
}

SHV_SEAM_API BOOL IsWindow(HWND window) { return is_live(window) ? TRUE : FALSE; }

SHV_SEAM_API BOOL IsWindowEnabled(HWND window) { return is_live(window) && window->enabled ? TRUE : FALSE; }

SHV_SEAM_API HWND SetFocus(HWND window) {
  if (window != nullptr && (!is_live(window) || !window->enabled)) return nullptr;
  return std::exchange(focused, window);
}

SHV_SEAM_API HWND GetFocus() { return is_live(focused) ? focused : nullptr; }

SHV_SEAM_API LRESULT SendMessageW(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  HWND__* dialog = dialog_of(window);
  if (dialog == nullptr || dialog != window || dialog->proc == nullptr) return 0;
  return dialog->proc(dialog, message, wparam, lparam);
}

SHV_SEAM_API int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  // Modal to its owner: the owner's input is off and the box has the focus
  // meanwhile; both come back when it closes, however it closes.
  struct owner_state_t {
    HWND owner;
    bool was_enabled;
    HWND saved = std::exchange(focused, nullptr);
    ~owner_state_t() {
      if (is_live(owner)) owner->enabled = was_enabled;
      focused = saved;
    }
  } keep{is_live(owner) ? owner : nullptr, is_live(owner) && owner->enabled};
  if (keep.owner != nullptr) keep.owner->enabled = false;
  if (front_end != nullptr) {
    front_end->message_box(owner, text != nullptr ? std::u16string(text) : std::u16string(),
                           caption != nullptr ? std::u16string(caption) : std::u16string(u"Error"), type);
  }
  return IDOK;
}

SHV_SEAM_API LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value) {
  if (!is_live(window) || window->dialog != window || index != DWLP_USER) return 0;
  return std::exchange(window->user_data, value);
}

SHV_SEAM_API LONG_PTR GetWindowLongPtrW(HWND window, int index) {
  if (!is_live(window) || window->dialog != window || index != DWLP_USER) return 0;
  return window->user_data;
}

namespace plat {

SHV_SEAM_API dialog_front_end_t* set_dialog_front_end(dialog_front_end_t* next) {
  return std::exchange(front_end, next);
}

SHV_SEAM_API bool click(HWND dialog, int id) {
  HWND__* c = item(dialog, id);
  if (c == nullptr || !c->enabled || !dialog->enabled || dialog->ended) return false;
  if (is_auto_check_box(c)) c->check = c->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(c));
  return true;
}

SHV_SEAM_API bool dialog_is_open(HWND dialog) {
  return is_live(dialog) && dialog->dialog == dialog && !dialog->ended;
}

SHV_SEAM_API std::u16string dialog_title(HWND dialog) {
  return is_live(dialog) && dialog->dialog == dialog ? dialog->text : std::u16string();
}

SHV_SEAM_API std::vector<int> dialog_control_ids(HWND dialog) {
  std::vector<int> ids;
  if (!is_live(dialog) || dialog->dialog != dialog) return ids;
  for (const auto& c : dialog->controls) ids.push_back(c->id);
  return ids;
}

SHV_SEAM_API std::u16string control_text(HWND dialog, int id) {
  HWND__* c = item(dialog, id);
  return c != nullptr ? c->text : std::u16string();
}

}  // namespace plat
