// The fault watch on Linux: the stand-in has no structured exceptions, and a
// module must not take the process's signal handlers from its host.
#include "platform/fault_watch.h"

namespace plat {
bool watch_faults(HMODULE, fault_report_fn) noexcept { return false; }
void unwatch_faults() noexcept {}
}  // namespace plat
