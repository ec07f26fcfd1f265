// The core library's share of a module unload.
#include "kern/unload.h"

namespace kern_n {

void release_at_unload() noexcept {
  // The logger first: flushing its pending repeat line still names the thread.
  detail::release_initial_logger();
  detail::release_thread_engine();
  detail::release_library_locks();
}

}  // namespace kern_n
