// Inside a module, Asio leaves Winsock's start-up to the socket library.
// Asio starts Winsock from a static object of every file that includes it and
// stops it from its destructor: inside a module that runs under the loader
// lock, where WSAStartup and WSACleanup must not run. Asio's manual form,
// built before and destroyed after all of Asio's static objects, tells it
// that Winsock is started by us: by the socket library's first owner, at
// first use. Linked into modules only (programs start Winsock where Asio
// does, outside any lock), on Windows only.
#include "platform/win32.h"

#include <boost/asio/detail/winsock_init.hpp>

namespace {
__attribute__((init_priority(103))) boost::asio::detail::winsock_init<>::manual asio_leaves_winsock_to_us;
}  // namespace
