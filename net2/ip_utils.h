// Host and port to TCP endpoints: numeric or resolved addresses, every answer
// or the first.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <boost/asio/ip/tcp.hpp>

#include "net/dns_resolver.h"

namespace net2::ip {

typedef boost::asio::ip::tcp::endpoint endpoint_t;

// A bracketed host ("[...]") is resolved for IPv6, any other for IPv4; the
// first address wins; a name lookup ends by the deadline. Throw
// net2::spec_parse_error_shell_t (resolution) or
// number_format_exception_shell_t (port text).
void make_ep(endpoint_t& out, const std::string& host, uint16_t port, dns::deadline_t deadline = dns::no_deadline);
void make_ep(endpoint_t& out, const std::string& host, const std::string& port_text,
             dns::deadline_t deadline = dns::no_deadline);
// Every address, in the resolver's order, with the port text's port (or the
// numeric port when the text is empty); never empty, throws as make_ep.
std::vector<endpoint_t> make_eps(const std::string& host, const std::string& port_text, uint16_t port,
                                 dns::deadline_t deadline = dns::no_deadline);

// Whether the host is written in square brackets.
bool is_bracketed(const std::string& host);

}  // namespace net2::ip

namespace net2::detail::ip::detail {

// Every address of host as an endpoint with port, in the resolver's order.
// port_text only names the port in error texts.
std::vector<net2::ip::endpoint_t> resolve(const std::string& host, uint16_t port, bool bracketed,
                                          const std::string& port_text,
                                          dns::deadline_t deadline = dns::no_deadline);

}  // namespace net2::detail::ip::detail
