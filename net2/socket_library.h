// One counted start-up of the system's socket library, held for an owner's
// lifetime (Winsock on Windows; a counted no-op elsewhere).
#pragma once

#include "kern/types.h"

namespace net2::detail {

class socket_library_t : public noncopyable_t {
 public:
  // Throws boost::system::system_error with the text "winsock" on failure.
  socket_library_t();
  ~socket_library_t();
};

}  // namespace net2::detail
