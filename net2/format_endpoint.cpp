// Endpoint formatting and its socket-level forms.
#include "net2/format_endpoint.h"

#include <array>
#include <cstring>

#include "kern/exceptions.h"
#include "kern/logger.h"
#include "kern/runnable.h"
#include "kern/strings.h"
#include "net/dns_resolver.h"

namespace net2::detail::ip {

std::string format_endpoint(const boost::asio::ip::tcp::endpoint& endpoint, bool with_prefix,
                            bool resolve, bool with_port) {
  std::string text;
  text.reserve(resolve ? 1025 : 64);
  if (with_prefix) text += "tcp://";
  const boost::asio::ip::address address = endpoint.address();
  if (address.is_v4()) {
    if (resolve) {
      const auto bytes = address.to_v4().to_bytes();
      uint32_t network;
      static_assert(sizeof(network) == sizeof(bytes));
      std::memcpy(&network, bytes.data(), sizeof(network));
      char name[1026];
      text += dns::resolve_addr(network, name, sizeof(name));
    } else {
      text += address.to_v4().to_string();
    }
  } else if (address.is_v6()) {
    if (resolve) {
      const boost::asio::ip::address_v6 v6 = address.to_v6();
      const auto bytes = v6.to_bytes();
      std::array<uint8_t, 16> raw;
      std::memcpy(raw.data(), bytes.data(), raw.size());
      char name[1026];
      text += dns::resolve_addr(raw, name, sizeof(name), static_cast<uint32_t>(v6.scope_id()));
    } else {
      text += '[';
      text += address.to_v6().to_string();
      text += ']';
    }
  } else {
    KERN_THROW(BUG_exception, "unknown endpoint address type for \"%s\"", address.to_string().c_str());
  }
  if (with_port) {
    text += ':';
    kern_n::append_decimal(text, endpoint.port());
  }
  return text;
}

}  // namespace net2::detail::ip

namespace net2 {

namespace {

template <class Get>
std::string format_socket_endpoint(Get get, bool with_prefix, bool resolve, bool with_port) noexcept {
  try {
    return detail::ip::format_endpoint(get(), with_prefix, resolve, with_port);
  } catch (...) {
    try {
      const std::string reason = kern_n::describe_current_exception();
      KLOG(lvl_debug0, "Unable to format endpoint because of %s", reason.c_str());
      return "<not_connected>";
    } catch (...) {
      return std::string();
    }
  }
}

}  // namespace

std::string format_local_endpoint(const boost::asio::ip::tcp::socket& socket, bool with_prefix,
                                  bool resolve, bool with_port) {
  return format_socket_endpoint([&] { return socket.local_endpoint(); }, with_prefix, resolve, with_port);
}

std::string format_remote_endpoint(const boost::asio::ip::tcp::socket& socket, bool with_prefix,
                                   bool resolve, bool with_port) {
  return format_socket_endpoint([&] { return socket.remote_endpoint(); }, with_prefix, resolve, with_port);
}

}  // namespace net2
