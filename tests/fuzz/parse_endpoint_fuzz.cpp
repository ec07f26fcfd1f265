// Fuzz target: address specifications through parse_tcp_addr, and, for
// numeric hosts only, make_ep. A name is never handed on: no DNS traffic.
#include <cstddef>
#include <cstdint>
#include <array>
#include <cstdlib>
#include <string>

#include "kern/exceptions.h"
#include "net/dns_resolver.h"
#include "net2/ip_utils.h"
#include "net2/net2_utils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string spec(reinterpret_cast<const char*>(data), size);
  std::string host;
  std::string port_text;
  try {
    net2::stream::utils::parse_tcp_addr(spec, host, port_text);
  } catch (const net2::spec_parse_error_shell_t&) {
    return 0;
  }
  // The split loses nothing: host, the separator and the port text are the input.
  const std::string rest = spec.compare(0, 4, "tcp/") == 0 ? spec.substr(4) : spec;
  if (host + (rest.size() > host.size() ? ":" : "") + port_text != rest) std::abort();

  std::array<uint8_t, 16> address6;
  const bool numeric = host.find('\0') == std::string::npos &&
                       (dns::is_numeric_ip4(host, nullptr) ||
                        (net2::ip::is_bracketed(host) && dns::dinet6_aton(host.c_str(), address6, nullptr)));
  if (!numeric) return 0;
  net2::ip::endpoint_t endpoint;
  try {
    if (port_text.empty()) {
      net2::ip::make_ep(endpoint, host, uint16_t{2193});
    } else {
      net2::ip::make_ep(endpoint, host, port_text);
    }
  } catch (const d_exception_t_shell_t&) {
  }
  if (dns::utils::channels_created() != 0) std::abort();  // a numeric host reached c-ares
  return 0;
}
