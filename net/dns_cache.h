// Resolution statistics and the timer that feeds them and writes the timing
// line. (Results themselves are not cached: every lookup goes to c-ares.)
#pragma once

#include <cstdint>
#include <string>

#include "kern/types.h"

namespace dns {

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
