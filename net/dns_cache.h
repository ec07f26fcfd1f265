// The resolver's name cache (positive answers for their time-to-live), the
// resolution statistics and the timer that feeds them and writes the timing
// line.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <variant>

#include "kern/lazy.h"
#include "kern/syncers.h"
#include "kern/types.h"
#include "net/dns_resolver.h"

namespace dns {

// Positive answers of name lookups, each kept for its DNS time-to-live, so
// that a name asked again while its answer is fresh causes no DNS traffic and
// survives a name server's outage, as the operating system's own resolver
// cache does for every other program. It holds answers from DNS only: the
// hosts file is read before it, at every resolution, so that a line an
// administrator adds there counts at once. Small and bounded: when it is
// full, the answer that expires first makes room. Made on first use, it goes
// with the module (release_at_unload, net/unload.h).
class name_cache_t : public noncopyable_t {
 public:
  static constexpr size_t capacity = 32;
  // A longer time-to-live is cut to this, as system resolvers do.
  static constexpr uint32_t max_ttl_seconds = 86400;
  typedef std::chrono::steady_clock::time_point (*clock_fn)();

  // Throws what making it throws (on first use).
  static name_cache_t& instance();

  // The fresh answer for name, if any, into out.
  bool find(const std::string& name, ip4_list_t& out);
  bool find(const std::string& name, ip6_list_t& out);
  void store(const std::string& name, const ip4_list_t& list, uint32_t ttl_seconds);
  void store(const std::string& name, const ip6_list_t& list, uint32_t ttl_seconds);

  size_t size() const;
  void clear();
  // For tests: the clock that ages the answers.
  void set_clock(clock_fn clock);

 private:
  friend class kern_n::lazy_t<name_cache_t>;
  name_cache_t();
  typedef std::variant<ip4_list_t, ip6_list_t> answer_t;
  struct entry_t {
    answer_t answer;
    std::chrono::steady_clock::time_point expires;
  };
  // By family first: the same name asked for IPv4 and IPv6 are two answers.
  typedef std::pair<size_t, std::string> key_t;

  template <class List>
  bool find_answer(const std::string& name, List& out);
  template <class List>
  void store_answer(const std::string& name, const List& list, uint32_t ttl_seconds);

  mutable critical_section_t lock_;
  std::map<key_t, entry_t> entries_;
  clock_fn clock_;
};

struct statistics_t {
  uint64_t resolutions;
  uint64_t total_milliseconds;
};
statistics_t statistics();

namespace detail {

// Started before a resolution; on its end, normal or by exception, logs
// "[DNS] Resolve "<host>" time is <elapsed>" at level 12 and counts it.
class resolve_timer_t : public noncopyable_t {
 public:
  explicit resolve_timer_t(std::string host);
  ~resolve_timer_t();

 private:
  std::string host_;
  timegap_t start_;
};

}  // namespace detail
}  // namespace dns
