// Winsock 2.2 start-up and clean-up through the platform seam.
#include "net2/socket_library.h"

// Ahead of Boost: on Windows the seam puts Winsock 2 before <windows.h>.
#include "platform/win32.h"

#include <boost/system/system_error.hpp>

namespace net2::detail {

socket_library_t::socket_library_t() {
  WSADATA data;
  const int rc = WSAStartup(MAKEWORD(2, 2), &data);
  if (rc != 0) {
    throw boost::system::system_error(boost::system::error_code(rc, boost::system::system_category()),
                                      "winsock");
  }
}

socket_library_t::~socket_library_t() { WSACleanup(); }

}  // namespace net2::detail
