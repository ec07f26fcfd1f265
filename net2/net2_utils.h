// Address specifications of the client factory: "[tcp/]host[:port]".
#pragma once

#include <string>

#include <boost/asio/ip/tcp.hpp>

namespace net2::stream::utils {

// Splits spec into host and port text (empty when there is no port). Throws
// net2::spec_parse_error_shell_t for any protocol prefix other than "tcp/".
void parse_tcp_addr(const std::string& spec, std::string& host, std::string& port_text);

// The socket's remote endpoint without prefix, with port; "<not_connected>"
// when there is none.
std::string get_addr(const boost::asio::ip::tcp::socket& socket, bool resolve);

}  // namespace net2::stream::utils
