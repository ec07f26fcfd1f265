// elapsed_time.
#include "kern/elapsed.h"

#include <cstdio>

#include "kern/strings.h"

std::string elapsed_time(timegap_t gap) {
  // A negative span is shown by its magnitude with a leading "-".
  const bool negative = gap < 0;
  const uint64_t ticks = negative ? static_cast<uint64_t>(0) - static_cast<uint64_t>(gap)
                                  : static_cast<uint64_t>(gap);
  const uint64_t ms_total = ticks / static_cast<uint64_t>(ticks_per_millisecond);
  const uint64_t ms = ms_total % 1000;
  const uint64_t seconds_total = ms_total / 1000;
  const uint64_t seconds = seconds_total % 60;
  const uint64_t minutes = (seconds_total / 60) % 60;
  const uint64_t hours = (seconds_total / 3600) % 24;
  const uint64_t days = seconds_total / 86400;
  std::string out = negative ? "-" : "";
  if (days != 0) {
    kern_n::append_decimal(out, days);
    out += '-';
  }
  char buffer[32];
  std::snprintf(buffer, sizeof(buffer), "%02u:%02u:%02u.%03u", static_cast<unsigned>(hours),
                static_cast<unsigned>(minutes), static_cast<unsigned>(seconds), static_cast<unsigned>(ms));
  out += buffer;
  return out;
}
