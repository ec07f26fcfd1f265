// Blocking host-name and address lookups over c-ares: numeric addresses are
// recognised first and never reach DNS; everything else runs one c-ares
// channel to completion on the calling thread.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace dns {

// The moment by which a lookup must have ended, whatever the name servers do.
typedef std::chrono::steady_clock::time_point deadline_t;
inline constexpr deadline_t no_deadline = deadline_t::max();

// The outcome of one c-ares operation: success is an empty text and no time-out.
struct result_t {
  std::string error;
  bool timeout = false;
  bool ok() const { return error.empty() && !timeout; }
};
typedef std::shared_ptr<result_t> result_ptr;

// One IPv6 address (network order) and its scope (0 for DNS answers).
struct ip6pp_t {
  std::array<uint8_t, 16> address{};
  uint32_t scope = 0;
};

// IPv4 addresses in network byte order, in the resolver's order.
typedef std::vector<uint32_t> ip4_list_t;
typedef std::shared_ptr<ip4_list_t> ip4_list_ptr;
typedef std::vector<ip6pp_t> ip6_list_t;
typedef std::shared_ptr<ip6_list_t> ip6_list_ptr;

// Throw host_not_found_exception_shell_t, dns::utils::dns_timeout_exception_shell_t
// or dns::utils::sysselect_exception_shell_t on failure. With a deadline, the
// lookup's time-out per try and its tries are fitted into the time left, and
// a lookup still unanswered at the deadline is cancelled and raises the
// time-out; without one, the process-wide settings apply.
ip4_list_ptr resolve_name0(const std::string& host, deadline_t deadline = no_deadline);
ip6_list_ptr resolve_name_ex0(const std::string& host, deadline_t deadline = no_deadline);
// The host name of an address into buffer (at most size - 1 characters,
// terminated); returns buffer.
char* resolve_addr(uint32_t address, char* buffer, size_t size);
char* resolve_addr(const std::array<uint8_t, 16>& address, char* buffer, size_t size, uint32_t scope);

// Returns on success; else raises, format filled with host and the reason.
void raise_if(const result_t& result, const char* format, const char* host);

// True when text is a numeric IPv6 address in square brackets ("[::1]",
// "[fe80::1%eth0]"); address and scope (if given) receive it.
bool dinet6_aton(const char* text, std::array<uint8_t, 16>& address, uint32_t* scope);

// True when text is an IPv4 address the resolver takes without any lookup
// ("255.255.255.255" included); address receives it in network order.
bool is_numeric_ip4(const std::string& text, uint32_t* address);

// Resolver settings (process-wide): seconds per try and number of tries.
uint32_t timeout_seconds();
uint32_t tries();

// TALOND_DEBUG_DNS, read at load; the setter is for tests.
bool debug_enabled();
void set_debug(bool on);

namespace utils {

// One operation each; they report instead of raising. A name the hosts file
// does not list is answered from the name cache (dns_cache.h) while DNS's
// answer is fresh, without DNS traffic.
result_ptr rez_name_ip4(const std::string& name, ip4_list_t& out, deadline_t deadline = no_deadline);
result_ptr rez_name_ip6(const std::string& name, ip6_list_t& out, deadline_t deadline = no_deadline);
result_ptr rez_ip4_name(uint32_t address, std::string& name);
result_ptr rez_ip6_name(const std::array<uint8_t, 16>& address, uint32_t scope, std::string& name);

// Channels created since load (numeric addresses never create one).
uint64_t channels_created();

}  // namespace utils

}  // namespace dns
