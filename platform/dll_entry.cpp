// Whether this module's entry point refused the process attach.
#include "platform/dll_entry.h"

#include <atomic>

namespace plat {
namespace {
std::atomic<bool> attach_failed{false};
}
bool module_attach_failed() { return attach_failed.load(); }
void set_module_attach_failed(bool failed) { attach_failed.store(failed); }
}  // namespace plat
