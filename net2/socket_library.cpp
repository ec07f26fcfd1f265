// Winsock 2.2 start-up and clean-up through the platform seam, shared by the
// module's owners.
#include "net2/socket_library.h"

// Ahead of Boost: on Windows the seam puts Winsock 2 before <windows.h>.
#include "platform/win32.h"

#include <boost/system/system_error.hpp>

#include "kern/syncers.h"

namespace net2::detail {

namespace {

// Static storage, so that it goes with the module at unload.
critical_section_t holders_lock;
uint64_t holders = 0;

}  // namespace

socket_library_t::socket_library_t() {
  critsect_locker_t guard(holders_lock);
  if (holders == 0) {
    WSADATA data;
    const int rc = WSAStartup(MAKEWORD(2, 2), &data);
    if (rc != 0) {
      throw boost::system::system_error(boost::system::error_code(rc, boost::system::system_category()),
                                        "winsock");
    }
  }
  ++holders;
}

socket_library_t::~socket_library_t() {
  critsect_locker_t guard(holders_lock);
  if (--holders == 0) WSACleanup();
}

}  // namespace net2::detail
