// One counted start-up of the system's socket library, held for an owner's
// lifetime (Winsock on Windows; a counted no-op elsewhere).
#pragma once

#include "kern/types.h"

namespace net2::detail {

// Every owner in the module shares one start-up: the first takes it and the
// last gives it back, under one lock. The system's own count is then touched
// only by one thread at a time, whatever the number of concurrent requests
// (a host whose count is not thread-safe could otherwise reach zero early,
// which closes every socket of the process).
class socket_library_t : public noncopyable_t {
 public:
  // Throws boost::system::system_error with the text "winsock" on failure.
  socket_library_t();
  ~socket_library_t();
};

}  // namespace net2::detail
