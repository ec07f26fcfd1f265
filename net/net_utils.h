// Socket addresses as text for log lines: numeric or resolved, with or
// without the port.
#pragma once

#include <string>

#include "platform/sockets.h"

namespace net_n {

typedef SOCKET socket_handle_t;

// Appends the host name (resolve set, falling back to the numeric form on any
// failure) or the dotted address, then ":" and the port when with_port is set.
void print_ip_addr(const sockaddr_in& address, std::string& out, bool resolve, bool with_port);
// The IPv6 counterpart; the numeric form is bracketed when a port follows.
void print_ip6_addr(const sockaddr_in6& address, std::string& out, bool resolve, bool with_port);
// Chooses by family; other families give "family/#<number>".
void decode_name(const sockaddr* address, std::string& out, bool resolve, bool with_port);
// The socket's local or remote address (numeric, with port); "unknown" when
// it cannot be obtained.
std::string get_my_name(socket_handle_t socket);
std::string get_peer_name(socket_handle_t socket);

}  // namespace net_n
