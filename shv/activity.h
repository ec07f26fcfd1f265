// What the validator did, counted for the hourly summary event, and the
// refused requests' warning: counted with atomics on the way, reported after
// a request's OnComplete.
#pragma once

#include <cstdint>

namespace shv::activity {

enum counter_t { requests, compliant, not_compliant, from_cache, without_verdict, failed_queries, refused, counters };

constexpr uint64_t refused_interval_ms = 60 * 1000;
constexpr uint64_t summary_interval_ms = 60 * 60 * 1000;

void count(counter_t counter) noexcept;
// A request refused because 128 were in progress.
void count_refused() noexcept;
// After a request's OnComplete: queues the refused warning (at most one a
// minute, with the number since the last) and, an hour after the last one
// (or the first request), the summary.
void after_request() noexcept;

}  // namespace shv::activity
