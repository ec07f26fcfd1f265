// What both components do at their module's attach and unload.
#include "common/nap_common.h"
#include "kern/logger.h"
#include "kern/runnable.h"
#include "kern/unload.h"
#include "platform/fault_watch.h"

namespace napcommon {

namespace {
void log_fault(const char* description) noexcept { KLOG(lvl_fatal, "%s", description); }
}  // namespace

bool attach_component(HMODULE module) noexcept {
  if (!kern_n::runnable_t::thread_engine_ready()) {
    KLOG(lvl_error, "unable to initialize thread engine");
    return false;
  }
  if (!bind_qutil()) return false;
  plat::watch_faults(module, &log_fault);
  return true;
}

void release_component() noexcept {
  plat::unwatch_faults();
  detail::unbind_qutil();
  detail::release_logger();
  kern_n::release_at_unload();
}

}  // namespace napcommon
