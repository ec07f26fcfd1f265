// Endpoints back to text: "[tcp://]address[:port]", numeric or resolved, for
// descriptions and log lines.
#pragma once

#include <string>

#include <boost/asio/ip/tcp.hpp>

namespace net2::detail::ip {

// Throws BUG_exception_shell_t for an address family other than IPv4/IPv6,
// and the resolver's exceptions when resolving.
std::string format_endpoint(const boost::asio::ip::tcp::endpoint& endpoint, bool with_prefix,
                            bool resolve, bool with_port);

}  // namespace net2::detail::ip

namespace net2 {

// The socket's endpoint formatted as above; "<not_connected>" when it cannot
// be obtained or formatted (logged at level 9). Never throw.
std::string format_local_endpoint(const boost::asio::ip::tcp::socket& socket, bool with_prefix,
                                  bool resolve, bool with_port);
std::string format_remote_endpoint(const boost::asio::ip::tcp::socket& socket, bool with_prefix,
                                   bool resolve, bool with_port);

}  // namespace net2
