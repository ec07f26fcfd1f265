// Socket addresses as text.
#include "net/net_utils.h"

#include <array>
#include <cstring>

#include "kern/strings.h"
#include "net/dns_resolver.h"

namespace net_n {

namespace {

constexpr size_t name_buffer_size = 1152;

void append_port(std::string& out, uint16_t network_port) {
  out += ':';
  kern_n::append_decimal(out, static_cast<uint32_t>(ntohs(network_port)));
}

}  // namespace

void print_ip_addr(const sockaddr_in& address, std::string& out, bool resolve, bool with_port) {
  bool named = false;
  if (resolve) {
    try {
      char name[name_buffer_size];
      out += dns::resolve_addr(static_cast<uint32_t>(address.sin_addr.s_addr), name, sizeof(name));
      named = true;
    } catch (...) {
    }
  }
  if (!named) {
    const auto* b = reinterpret_cast<const uint8_t*>(&address.sin_addr.s_addr);
    out += string_format("%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  }
  if (with_port) append_port(out, address.sin_port);
}

void print_ip6_addr(const sockaddr_in6& address, std::string& out, bool resolve, bool with_port) {
  std::array<uint8_t, 16> bytes;
  std::memcpy(bytes.data(), &address.sin6_addr, 16);
  bool named = false;
  if (resolve) {
    try {
      char name[name_buffer_size];
      out += dns::resolve_addr(bytes, name, sizeof(name), address.sin6_scope_id);
      named = true;
    } catch (...) {
    }
  }
  if (!named) {
    char text[INET6_ADDRSTRLEN] = "";
    inet_ntop(AF_INET6, &address.sin6_addr, text, sizeof(text));
    if (with_port) out += '[';
    out += text;
    if (with_port) out += ']';
  }
  if (with_port) append_port(out, address.sin6_port);
}

void decode_name(const sockaddr* address, std::string& out, bool resolve, bool with_port) {
  switch (address->sa_family) {
    case AF_INET:
      print_ip_addr(*reinterpret_cast<const sockaddr_in*>(address), out, resolve, with_port);
      break;
    case AF_INET6:
      print_ip6_addr(*reinterpret_cast<const sockaddr_in6*>(address), out, resolve, with_port);
      break;
    default:
      out += "family/#";
      kern_n::append_decimal(out, static_cast<uint32_t>(address->sa_family));
      break;
  }
}

namespace {

template <class Query>
std::string socket_name(socket_handle_t socket, Query query) {
  sockaddr_storage storage;
  std::memset(&storage, 0, sizeof(storage));
  socklen_t length = sizeof(storage);
  if (query(socket, reinterpret_cast<sockaddr*>(&storage), &length) != 0) return "unknown";
  std::string text;
  decode_name(reinterpret_cast<const sockaddr*>(&storage), text, false, true);
  return text;
}

}  // namespace

std::string get_my_name(socket_handle_t socket) {
  return socket_name(socket, [](socket_handle_t s, sockaddr* a, socklen_t* l) { return getsockname(s, a, l); });
}

std::string get_peer_name(socket_handle_t socket) {
  return socket_name(socket, [](socket_handle_t s, sockaddr* a, socklen_t* l) { return getpeername(s, a, l); });
}

}  // namespace net_n
