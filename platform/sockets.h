// The BSD socket calls and address types: Winsock 2 on Windows, the system's
// own sockets on Linux, with SOCKET for a socket's handle on both. Where the
// two differ in a way their callers see, a helper here hides it.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>

#include <cerrno>

#include "platform/linux/winsock/winsock_api.h"
#endif

namespace plat {

// Calls visit(socket) for every socket in set, in order: Winsock's fd_set
// lists its sockets, POSIX's is a bitmap of the descriptors below nfds.
template <class Visit>
void for_each_socket(const fd_set& set, int nfds, Visit visit) {
#ifdef _WIN32
  (void)nfds;
  for (u_int i = 0; i < set.fd_count; ++i) visit(set.fd_array[i]);
#else
  for (int fd = 0; fd < nfds; ++fd) {
    if (FD_ISSET(fd, &set)) visit(fd);
  }
#endif
}

// Whether select's result rc means only that a signal cut the wait short
// (POSIX); Winsock's select is never interrupted that way.
inline bool select_interrupted(int rc) {
#ifdef _WIN32
  (void)rc;
  return false;
#else
  return rc < 0 && errno == EINTR;
#endif
}

}  // namespace plat
