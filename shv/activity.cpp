// The activity counters and their two events.
#include "shv/activity.h"

#include <atomic>

#include "shv/event_log.h"

namespace shv::activity {

namespace {

std::atomic<uint64_t> totals[counters];
std::atomic<uint64_t> refused_since_event{0};
events::rate_limit_t refused_limit;
// When the next summary is due; 0 until the first request sets it.
std::atomic<uint64_t> summary_due{0};

void summarise(uint64_t now) {
  uint64_t due = summary_due.load();
  if (due == 0) {
    summary_due.compare_exchange_strong(due, now + summary_interval_ms);
    return;
  }
  if (now < due || !summary_due.compare_exchange_strong(due, now + summary_interval_ms)) return;
  std::vector<std::u16string> strings;
  for (std::atomic<uint64_t>& total : totals) strings.push_back(events::number(total.exchange(0)));
  events::report(events::summary, events::type_t::information, std::move(strings));
}

}  // namespace

void count(counter_t counter) noexcept { totals[counter].fetch_add(1); }

void count_refused() noexcept {
  totals[refused].fetch_add(1);
  refused_since_event.fetch_add(1);
}

void after_request() noexcept {
  try {
    if (refused_since_event.load() != 0 && refused_limit.admit(refused_interval_ms)) {
      events::report(events::requests_refused, events::type_t::warning,
                     {events::number(refused_since_event.exchange(0))});
    }
    summarise(events::now_ms());
  } catch (...) {
  }
}

}  // namespace shv::activity
