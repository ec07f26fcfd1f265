// The validator's events for the Application event log: one id per kind, so
// that administrators can filter and alert on it, with the details as
// insertion strings. Reporting only queues an event (the rate limits are
// decided before, with atomics); the queue is written by write_pending, which
// the worker calls after OnComplete and the registration functions at their
// end: ReportEventW is a call into a service that may stall, and it must
// never stand between a request and its verdict, nor run under a lock of ours.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace shv::events {

// The event source, as registered under the Application log.
extern const char16_t source_name[];
extern const char16_t source_key[];

enum class type_t : uint16_t { error = 1, warning = 2, information = 4 };

// The ids of the message table (resources/healthval_events.mc); the guide
// lists each with its meaning.
enum id_t : uint32_t {
  server_unreachable = 1000,
  server_still_unreachable = 1001,
  server_recovered = 1002,
  requests_refused = 1003,
  settings_unreadable = 1004,
  setting_wrong_type = 1005,
  unknown_configuration = 1006,
  registered = 1007,
  registration_failed = 1008,
  unregistered = 1009,
  unregistration_failed = 1010,
  summary = 1011,
};

struct event_t {
  uint32_t id = 0;
  type_t type = type_t::information;
  std::vector<std::u16string> strings;
};

// EventLogLevel of the settings key, read afresh: 0 none, 1 errors and
// warnings, 2 also information (the default, also for a value that cannot be
// read).
constexpr uint32_t default_level = 2;
uint32_t level();
bool wanted(type_t type, uint32_t level);

// Queues an event for the next write_pending, when EventLogLevel wants its
// type (it must again when it is written); never blocks on the log and never
// throws. The queue is bounded: beyond max_pending an event is dropped.
constexpr size_t max_pending = 64;
void report(uint32_t id, type_t type, std::vector<std::u16string> strings) noexcept;

// Writes the queued events that EventLogLevel wants, on the calling thread.
// One thread writes at a time: while one is stalled in the log, the others
// leave the queue to it and go on.
void write_pending() noexcept;

// Milliseconds of a monotonic clock, for rate limits and durations.
typedef uint64_t (*clock_fn_t)();
uint64_t now_ms();
// Where events are written: the event log by default. Both are replaceable
// for tests (null restores the default); each returns the one it replaced.
typedef void (*sink_t)(const event_t& event);
clock_fn_t set_clock(clock_fn_t clock);
sink_t set_sink(sink_t sink);

// At most one admission per interval, decided with one atomic exchange.
class rate_limit_t {
 public:
  bool admit(uint64_t interval_ms) noexcept;

 private:
  std::atomic<uint64_t> next_{0};
};

// Decimal text of a count, for insertion strings.
std::u16string number(uint64_t value);
std::u16string hex(uint32_t value);
std::u16string text(const std::string& narrow);

}  // namespace shv::events
