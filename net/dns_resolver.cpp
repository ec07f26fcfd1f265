// Forward and reverse lookups: the numeric short cuts, one c-ares operation
// per call, status conversion and raising.
#include "net/dns_resolver.h"

// The socket headers before anything that may pull in <windows.h>.
#include "net/cares.h"
#include "platform/sockets.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "kern/exceptions.h"
#include "kern/logger.h"
#include "kern/strings.h"
#include "net/dns_cache.h"

namespace dns {

namespace {

std::atomic<uint32_t> timeout_setting{5};
std::atomic<uint32_t> tries_setting{3};
std::atomic<bool> debug_switch{std::getenv("TALOND_DEBUG_DNS") != nullptr};

constexpr size_t max_host_name = 1024;

// What a c-ares callback fills in; lives longer than the channel it serves,
// since destroying a channel may still call back.
template <class List>
struct lookup_record_t {
  List* out = nullptr;
  int family = AF_UNSPEC;
  int status = -1;
  // The shortest time-to-live among the answer's addresses; 0 for answers
  // that carry none (the hosts file).
  uint32_t ttl = 0;
  const utils::cares_t* channel = nullptr;
};

struct name_record_t {
  std::string* out = nullptr;
  int status = -1;
  const utils::cares_t* channel = nullptr;
};

// One answer address into a list of its family.
void append_address(ip4_list_t& out, const ares_addrinfo_node& node) {
  uint32_t address;
  std::memcpy(&address, &reinterpret_cast<const sockaddr_in*>(node.ai_addr)->sin_addr, 4);
  out.push_back(address);
}

void append_address(ip6_list_t& out, const ares_addrinfo_node& node) {
  ip6pp_t address;
  std::memcpy(address.address.data(), &reinterpret_cast<const sockaddr_in6*>(node.ai_addr)->sin6_addr, 16);
  address.scope = 0;
  out.push_back(address);
}

// The forward lookup callback: status, then every answer address of the
// asked family in order, and the shortest time-to-live among them and the
// aliases that led to them.
template <class List, int Family>
void on_host(void* arg, int status, int, ares_addrinfo* info) {
  auto* record = static_cast<lookup_record_t<List>*>(arg);
  if (debug_switch) {
    KLOG(lvl_debug2, "[DNS] %p: gethostbyname %s c-ares CB status=%u (%s)",
         static_cast<const void*>(record->channel), Family == AF_INET ? "V4" : "V6",
         static_cast<unsigned>(status), ares_strerror(status));
  }
  record->status = status;
  if (status == ARES_SUCCESS && info != nullptr && info->nodes != nullptr) {
    record->family = info->nodes->ai_family;
    bool first = true;
    for (const ares_addrinfo_node* node = info->nodes; node != nullptr; node = node->ai_next) {
      if (node->ai_family != Family || node->ai_addr == nullptr) continue;
      append_address(*record->out, *node);
      const uint32_t ttl = node->ai_ttl > 0 ? static_cast<uint32_t>(node->ai_ttl) : 0;
      record->ttl = first ? ttl : std::min(record->ttl, ttl);
      first = false;
    }
    // An answer reached through aliases lasts no longer than the shortest of them.
    for (const ares_addrinfo_cname* alias = info->cnames; alias != nullptr; alias = alias->next) {
      record->ttl = std::min(record->ttl, alias->ttl > 0 ? static_cast<uint32_t>(alias->ttl) : 0u);
    }
  }
  if (info != nullptr) ares_freeaddrinfo(info);
}

void on_name(void* arg, int status, int, char* node, char*) {
  auto* record = static_cast<name_record_t*>(arg);
  if (debug_switch) {
    KLOG(lvl_debug2, "[DNS] %p: getnameinfo c-ares CB status=%u (%s)",
         static_cast<const void*>(record->channel), static_cast<unsigned>(status), ares_strerror(status));
  }
  record->status = status;
  if (status == ARES_SUCCESS && node != nullptr) {
    record->out->assign(node, strnlen(node, max_host_name));
  }
}

result_ptr failure(const std::string& text) {
  auto result = std::make_shared<result_t>();
  result->error = text;
  return result;
}

// A forward lookup of one family on a channel of its own, in the system's
// order: the hosts file, then DNS. A name the hosts file lists is answered
// from it; any other name by a fresh cached answer, or else by the lookup,
// whose positive answer from DNS is cached for its time-to-live.
template <class List, int Family>
result_ptr lookup_name(const std::string& name, List& out, deadline_t deadline, const char* version,
                       const char* operation, const char* family_text) {
  lookup_record_t<List> record;
  record.out = &out;
  utils::cares_t channel(deadline);
  record.channel = &channel;
  if (!channel.ready()) return failure(ares_strerror(channel.retcode()));
  const bool from_hosts = channel.in_hosts_file(name.c_str(), Family);
  if (!from_hosts && name_cache_t::instance().find(name, out)) return std::make_shared<result_t>();
  if (deadline != no_deadline && std::chrono::steady_clock::now() >= deadline) {
    // No time left at all: nothing is asked.
    auto result = std::make_shared<result_t>();
    result->timeout = true;
    return result;
  }
  if (debug_switch) {
    KLOG(lvl_debug2, "[DNS] %p: gethostbyname %s c-ares '%s'", static_cast<const void*>(&channel), version,
         name.c_str());
  }
  channel.getaddrinfo(name.c_str(), Family, &on_host<List, Family>, &record);
  if (!channel.do_query()) {
    // The deadline cut the lookup short: an unanswered query, as if c-ares
    // had run out of tries.
    out.clear();
    return channel.retcode(ARES_ETIMEOUT, operation);
  }
  const int status = record.status == -1 ? ARES_ECANCELLED : record.status;
  if (status != ARES_SUCCESS) {
    out.clear();
    return channel.retcode(status, operation);
  }
  if (record.family != Family) {
    out.clear();
    return failure(family_text);
  }
  // The lookup reads the hosts file again: an answer from there (a line added
  // since) carries no time-to-live and is not kept either.
  if (!from_hosts) name_cache_t::instance().store(name, out, record.ttl);
  return std::make_shared<result_t>();
}

result_ptr lookup_address(const sockaddr* address, int length, std::string& name,
                          const char* operation, const char* version, const std::string& text) {
  name_record_t record;
  record.out = &name;
  utils::cares_t channel;
  record.channel = &channel;
  if (!channel.ready()) return failure(ares_strerror(channel.retcode()));
  constexpr int flags = ARES_NI_LOOKUPHOST | ARES_NI_NAMEREQD;  // 260
  if (debug_switch) {
    KLOG(lvl_debug2, "[DNS] %p: getnameinfo %s flags=%04x c-ares '%s'", static_cast<const void*>(&channel),
         version, static_cast<unsigned>(flags), text.c_str());
    KLOG(lvl_debug2, "[DNS] %p: getnameinfo AF=%u flags=%04x c-ares", static_cast<const void*>(&channel),
         static_cast<unsigned>(address->sa_family), static_cast<unsigned>(flags));
  }
  channel.getnameinfo(address, length, flags, on_name, &record);
  channel.do_query();
  const int status = record.status == -1 ? ARES_ECANCELLED : record.status;
  if (status != ARES_SUCCESS) name.clear();
  return channel.retcode(status, operation);
}

std::string ip4_text(uint32_t address) {
  const auto* b = reinterpret_cast<const uint8_t*>(&address);
  return string_format("%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

std::string ip6_text(const std::array<uint8_t, 16>& address) {
  char text[INET6_ADDRSTRLEN] = "";
  inet_ntop(AF_INET6, address.data(), text, sizeof(text));
  return text;
}

// The name into the caller's buffer: at most size - 1 characters, terminated.
char* copy_name(const std::string& name, char* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return buffer;
  const size_t n = std::min(name.size(), size - 1);
  std::memcpy(buffer, name.data(), n);
  buffer[n] = '\0';
  return buffer;
}

}  // namespace

uint32_t timeout_seconds() { return timeout_setting.load(); }
uint32_t tries() { return tries_setting.load(); }
bool debug_enabled() { return debug_switch.load(); }
void set_debug(bool on) { debug_switch = on; }

bool is_numeric_ip4(const std::string& text, uint32_t* address) {
  uint32_t value = 0xffffffffu;
  if (text != "255.255.255.255") {
    // inet_addr, without its tolerance of trailing text after a blank.
    if (text.empty()) return false;
    for (unsigned char c : text) {
      if (c == 0 || std::isspace(c) || std::iscntrl(c)) return false;
    }
    const auto parsed = inet_addr(text.c_str());
    if (parsed == INADDR_NONE) return false;
    value = static_cast<uint32_t>(parsed);
  }
  if (address != nullptr) *address = value;
  return true;
}

bool dinet6_aton(const char* text, std::array<uint8_t, 16>& address, uint32_t* scope) {
  if (text == nullptr) return false;
  const size_t length = std::strlen(text);
  if (length < 2 || text[0] != '[' || text[length - 1] != ']') return false;
  const std::string inner(text + 1, length - 2);
  if (inner.empty()) return false;
  addrinfo hints;
  std::memset(&hints, 0, sizeof(hints));
  hints.ai_family = AF_INET6;
  hints.ai_flags = AI_NUMERICHOST;  // never a lookup
  addrinfo* found = nullptr;
  if (getaddrinfo(inner.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
  bool ok = false;
  if (found->ai_family == AF_INET6 && found->ai_addrlen >= sizeof(sockaddr_in6)) {
    const auto* converted = reinterpret_cast<const sockaddr_in6*>(found->ai_addr);
    std::memcpy(address.data(), &converted->sin6_addr, 16);
    if (scope != nullptr) *scope = converted->sin6_scope_id;
    ok = true;
  }
  freeaddrinfo(found);
  return ok;
}

namespace utils {

result_ptr rez_name_ip4(const std::string& name, ip4_list_t& out, deadline_t deadline) {
  out.clear();
  // A NUL would cut the name short on its way to c-ares: another name.
  if (name.find('\0') != std::string::npos) return failure(ares_strerror(ARES_EBADNAME));
  uint32_t numeric;
  if (is_numeric_ip4(name, &numeric)) {
    out.push_back(numeric);
    return std::make_shared<result_t>();
  }
  return lookup_name<ip4_list_t, AF_INET>(name, out, deadline, "V4", "gethostbyname",
                                          "Returned address is not IPv4 one");
}

result_ptr rez_name_ip6(const std::string& name, ip6_list_t& out, deadline_t deadline) {
  out.clear();
  if (name.find('\0') != std::string::npos) return failure(ares_strerror(ARES_EBADNAME));
  ip6pp_t numeric;
  if (dinet6_aton(name.c_str(), numeric.address, &numeric.scope)) {
    out.push_back(numeric);
    return std::make_shared<result_t>();
  }
  // A bracketed name is looked up without its brackets.
  std::string lookup = name;
  if (lookup.size() >= 2 && lookup.front() == '[' && lookup.back() == ']') {
    lookup = lookup.substr(1, lookup.size() - 2);
  }
  return lookup_name<ip6_list_t, AF_INET6>(lookup, out, deadline, "V6", "gethostbyname6",
                                           "Returned address is not IPv6 one");
}

result_ptr rez_ip4_name(uint32_t address, std::string& name) {
  name.clear();
  if (debug_switch) {
    const auto* b = reinterpret_cast<const uint8_t*>(&address);
    KLOG(lvl_debug2, "[DNS] %p: getnameinfo c-ares V4 addr=%u (%u.%u.%u.%u)", static_cast<void*>(&name),
         static_cast<unsigned>(ntohl(address)), b[0], b[1], b[2], b[3]);
  }
  if (address == 0) {
    name = "0";
    return std::make_shared<result_t>();
  }
  sockaddr_in socket_address;
  std::memset(&socket_address, 0, sizeof(socket_address));
  socket_address.sin_family = AF_INET;
  socket_address.sin_addr.s_addr = address;
  return lookup_address(reinterpret_cast<const sockaddr*>(&socket_address), sizeof(socket_address),
                        name, "getnameinfo", "V4", ip4_text(address));
}

result_ptr rez_ip6_name(const std::array<uint8_t, 16>& address, uint32_t scope, std::string& name) {
  name.clear();
  if (debug_switch) {
    KLOG(lvl_debug2, "[DNS] %p: getnameinfo c-ares V6 (%s)", static_cast<void*>(&name),
         ip6_text(address).c_str());
  }
  sockaddr_in6 socket_address;
  std::memset(&socket_address, 0, sizeof(socket_address));
  socket_address.sin6_family = AF_INET6;
  std::memcpy(&socket_address.sin6_addr, address.data(), 16);
  socket_address.sin6_scope_id = scope;
  return lookup_address(reinterpret_cast<const sockaddr*>(&socket_address), sizeof(socket_address),
                        name, "getnameinfo6", "V6", ip6_text(address));
}

}  // namespace utils

void raise_if(const result_t& result, const char* format, const char* host) {
  if (result.ok()) return;
  if (result.timeout) {
    KERN_THROW(utils::dns_timeout_exception, format, host, ares_strerror(ARES_ETIMEOUT));
  }
  KERN_THROW(host_not_found_exception, format, host, result.error.c_str());
}

namespace {
const char name_format[] = "unable to resolve address of host \"%s\" because of %s";
const char address_format[] = "unable to resolve name of host \"%s\" because of %s";
}  // namespace

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"

ip4_list_ptr resolve_name0(const std::string& host, deadline_t deadline) {
  detail::resolve_timer_t timer(host);
  auto list = std::make_shared<ip4_list_t>();
  const result_ptr result = utils::rez_name_ip4(host, *list, deadline);
  raise_if(*result, name_format, host.c_str());
  return list;
}

ip6_list_ptr resolve_name_ex0(const std::string& host, deadline_t deadline) {
  detail::resolve_timer_t timer(host);
  auto list = std::make_shared<ip6_list_t>();
  const result_ptr result = utils::rez_name_ip6(host, *list, deadline);
  raise_if(*result, name_format, host.c_str());
  return list;
}

char* resolve_addr(uint32_t address, char* buffer, size_t size) {
  const std::string text = ip4_text(address);
  detail::resolve_timer_t timer(text);
  std::string name;
  const result_ptr result = utils::rez_ip4_name(address, name);
  raise_if(*result, address_format, text.c_str());
  return copy_name(name, buffer, size);
}

char* resolve_addr(const std::array<uint8_t, 16>& address, char* buffer, size_t size, uint32_t scope) {
  const std::string text = ip6_text(address);
  detail::resolve_timer_t timer(text);
  std::string name;
  const result_ptr result = utils::rez_ip6_name(address, scope, name);
  raise_if(*result, address_format, text.c_str());
  return copy_name(name, buffer, size);
}

#pragma GCC diagnostic pop

}  // namespace dns
