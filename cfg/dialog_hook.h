// The host's FindResourceW routed to the module's language-aware lookup while
// any settings dialog of the process is open.
#pragma once

namespace shv_cfg {

// One user of the hook for its lifetime. The hook is process-wide and
// counted: the first user installs it and the last restores the host's
// entry, so dialogs on several console threads cannot restore out of order
// and leave the entry pointing into this module.
class dialog_hook_user_t {
 public:
  dialog_hook_user_t();
  ~dialog_hook_user_t();
  dialog_hook_user_t(const dialog_hook_user_t&) = delete;
  dialog_hook_user_t& operator=(const dialog_hook_user_t&) = delete;
};

}  // namespace shv_cfg
