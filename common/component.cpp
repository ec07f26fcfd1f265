// What both components do at their module's attach and unload.
#include "common/nap_common.h"
#include "kern/logger.h"
#include "kern/runnable.h"
#include "kern/unload.h"
#include "platform/fault_watch.h"
#include "platform/win32.h"

namespace napcommon {

namespace {
// The level-0 line of a crash in the module's code. The heap may be what
// broke, so nothing is allocated: the line is made in a fixed buffer and goes
// straight to the debugger output, where the sink writes every line.
void log_fault(const char* description) noexcept {
  char line[1024 + 256];
  format_line_into(lvl_fatal, description, line, sizeof(line));
  OutputDebugStringA(line);
}
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
