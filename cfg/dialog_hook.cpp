// The counted dialog-language hook: one api_hook_t for the whole process.
#include "cfg/dialog_hook.h"

#include <mutex>
#include <optional>

#include "base/api_hook.h"
#include "base/resources.h"

namespace shv_cfg {

namespace {

std::mutex hook_lock;
unsigned hook_users = 0;
std::optional<base_n::api_hook_t> hook;

}  // namespace

dialog_hook_user_t::dialog_hook_user_t() {
  const std::lock_guard<std::mutex> hold(hook_lock);
  if (hook_users == 0) {
    hook.emplace(reinterpret_cast<const void*>(&base_n::find_resource<WCHAR>), nullptr, "kernel32.dll",
                 "FindResourceW", base_n::api_hook_t::policy_log);
  }
  ++hook_users;
}

dialog_hook_user_t::~dialog_hook_user_t() {
  const std::lock_guard<std::mutex> hold(hook_lock);
  if (--hook_users == 0) hook.reset();
}

}  // namespace shv_cfg
