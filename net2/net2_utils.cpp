// Parsing of address specifications.
#include "net2/net2_utils.h"

#include "kern/exceptions.h"
#include "net2/format_endpoint.h"

namespace net2::stream::utils {

void parse_tcp_addr(const std::string& spec, std::string& host, std::string& port_text) {
  static const std::string prefix = "tcp/";
  std::string rest;
  if (spec.compare(0, prefix.size(), prefix) == 0) {
    rest = spec.substr(prefix.size());
  } else if (spec.find('/') != std::string::npos) {
    KERN_THROW(net2::spec_parse_error, "address \"%s\" contains unknown protocol", spec.c_str());
  } else {
    rest = spec;
  }
  const size_t colon = rest.rfind(':');
  if (colon == std::string::npos) {
    host = rest;
    port_text.clear();
  } else {
    host = rest.substr(0, colon);
    port_text = rest.substr(colon + 1);
  }
}

std::string get_addr(const boost::asio::ip::tcp::socket& socket, bool resolve) {
  return format_remote_endpoint(socket, false, resolve, true);
}

}  // namespace net2::stream::utils
