// Process-wide resolution statistics and the resolution timer.
#include "net/dns_cache.h"

#include <atomic>
#include <utility>

#include "kern/clock.h"
#include "kern/elapsed.h"
#include "kern/logger.h"

namespace dns {

namespace {
std::atomic<uint64_t> resolutions{0};
std::atomic<uint64_t> total_milliseconds{0};
}  // namespace

statistics_t statistics() { return {resolutions.load(), total_milliseconds.load()}; }

namespace detail {

resolve_timer_t::resolve_timer_t(std::string host) : host_(std::move(host)), start_(clock_ticks()) {}

resolve_timer_t::~resolve_timer_t() {
  timegap_t gap = clock_ticks() - start_;
  if (gap < 0) gap = 0;  // the wall clock went back
  if (kern_n::log_enabled(lvl_debug3)) {
    try {
      const std::string elapsed = elapsed_time(gap);
      kern_n::log_at(lvl_debug3, "[DNS] Resolve \"%s\" time is %s", host_.c_str(), elapsed.c_str());
    } catch (...) {
    }
  }
  resolutions.fetch_add(1);
  total_milliseconds.fetch_add(static_cast<uint64_t>(gap / ticks_per_millisecond));
}

}  // namespace detail
}  // namespace dns
