// The resolver's share of a module unload.
#include "net/unload.h"

namespace dns {

void release_at_unload() noexcept {
  detail::release_name_cache();
  utils::detail::release_library_lock();
}

}  // namespace dns
