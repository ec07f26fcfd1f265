// Endpoint construction over the DNS resolver.
#include "net2/ip_utils.h"

#include <cstring>

#include "kern/exceptions.h"
#include "kern/numstrings.h"
#include "kern/strings.h"
#include "net/dns_resolver.h"

namespace net2::detail::ip::detail {

std::vector<net2::ip::endpoint_t> resolve(const std::string& host, uint16_t port, bool bracketed,
                                          const std::string& port_text, dns::deadline_t deadline) {
  std::vector<net2::ip::endpoint_t> endpoints;
  try {
    if (bracketed) {
      const dns::ip6_list_ptr list = dns::resolve_name_ex0(host, deadline);
      for (const dns::ip6pp_t& item : *list) {
        boost::asio::ip::address_v6::bytes_type bytes;
        std::memcpy(bytes.data(), item.address.data(), bytes.size());
        endpoints.emplace_back(boost::asio::ip::address_v6(bytes, item.scope), port);
      }
    } else {
      const dns::ip4_list_ptr list = dns::resolve_name0(host, deadline);
      for (uint32_t address : *list) {
        boost::asio::ip::address_v4::bytes_type bytes;
        std::memcpy(bytes.data(), &address, bytes.size());  // network order
        endpoints.emplace_back(boost::asio::ip::address_v4(bytes), port);
      }
    }
  } catch (d_exception_t_shell_t& e) {
    const std::string reason = e.what();
    KERN_THROW_CAUSED(net2::spec_parse_error, e.release_body(), "unable to resolve \"%s:%s\" because of %s",
                      host.c_str(), port_text.c_str(), reason.c_str());
  }
  return endpoints;
}

}  // namespace net2::detail::ip::detail

namespace net2::ip {

namespace {

std::vector<endpoint_t> all_endpoints(const std::string& host, uint16_t port, const std::string& port_text,
                                      dns::deadline_t deadline) {
  auto endpoints = detail::ip::detail::resolve(host, port, is_bracketed(host), port_text, deadline);
  if (endpoints.empty()) {
    KERN_THROW(net2::spec_parse_error, "unable to resolve %s:%s because of %s", host.c_str(),
               port_text.c_str(), "empty response returned");
  }
  return endpoints;
}

uint16_t port_of(const std::string& port_text) {
  const uint64_t value = string_to_uint64(lstr_t(port_text));
  if (value >= 65536) kern_n::detail::raise_number_out_of_range(lstr_t(port_text), false, sizeof(uint16_t));
  return static_cast<uint16_t>(value);
}

}  // namespace

bool is_bracketed(const std::string& host) {
  return host.size() > 1 && host.front() == '[' && host.back() == ']';
}

void make_ep(endpoint_t& out, const std::string& host, uint16_t port, dns::deadline_t deadline) {
  std::string port_text;
  kern_n::append_decimal(port_text, port);
  out = all_endpoints(host, port, port_text, deadline).front();
}

void make_ep(endpoint_t& out, const std::string& host, const std::string& port_text, dns::deadline_t deadline) {
  out = all_endpoints(host, port_of(port_text), port_text, deadline).front();
}

std::vector<endpoint_t> make_eps(const std::string& host, const std::string& port_text, uint16_t port,
                                 dns::deadline_t deadline) {
  if (!port_text.empty()) return all_endpoints(host, port_of(port_text), port_text, deadline);
  std::string shown;
  kern_n::append_decimal(shown, port);
  return all_endpoints(host, port, shown, deadline);
}

}  // namespace net2::ip
