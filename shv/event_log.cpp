// The event queue and its writer.
#include "shv/event_log.h"

#include <chrono>
#include <cstdio>
#include <mutex>

#include "common/settings.h"
#include "kern/logger.h"
#include "kern/regkey.h"
#include "kern/unicode.h"
#include "platform/event_source.h"
#include "platform/win32.h"

namespace shv::events {

const char16_t source_name[] = u"Vexor System Health Validator";
const char16_t source_key[] =
    u"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Vexor System Health Validator";

namespace {

uint64_t steady_ms() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

WORD platform_type(type_t type) {
  switch (type) {
    case type_t::error: return EVENTLOG_ERROR_TYPE;
    case type_t::warning: return EVENTLOG_WARNING_TYPE;
    default: return EVENTLOG_INFORMATION_TYPE;
  }
}

void write_to_event_log(const event_t& event) {
  const plat::event_source_t source(source_name);
  if (!source.report(platform_type(event.type), event.id, event.strings)) {
    KLOG(lvl_error, "[EventLog] unable to write event %u because of error %lu", static_cast<unsigned>(event.id),
         static_cast<unsigned long>(GetLastError()));
  }
}

std::atomic<clock_fn_t> clock{&steady_ms};
std::atomic<sink_t> sink{&write_to_event_log};

// Events reported and not yet written; the lock is held only to move them.
struct queue_t {
  std::mutex lock;
  std::vector<event_t> events;
  std::atomic<bool> writing{false};
};
queue_t queue;

}  // namespace

uint64_t now_ms() { return clock.load()(); }

clock_fn_t set_clock(clock_fn_t replacement) { return clock.exchange(replacement ? replacement : &steady_ms); }

sink_t set_sink(sink_t replacement) { return sink.exchange(replacement ? replacement : &write_to_event_log); }

uint32_t level() {
  try {
    win::regkey_t key;
    key.open(HKEY_LOCAL_MACHINE, shv_settings::settings_key, KEY_READ);
    return win::query_dword_value(key.get(), u"EventLogLevel", default_level);
  } catch (...) {
    return default_level;
  }
}

bool wanted(type_t type, uint32_t level) {
  if (level == 0) return false;
  return type != type_t::information || level >= 2;
}

void report(uint32_t id, type_t type, std::vector<std::u16string> strings) noexcept {
  try {
    if (!wanted(type, level())) return;
    std::lock_guard<std::mutex> guard(queue.lock);
    if (queue.events.size() >= max_pending) return;
    queue.events.push_back(event_t{id, type, std::move(strings)});
  } catch (...) {
  }
}

void write_pending() noexcept {
  // An event queued while the writer was finishing is not left behind: the
  // last one out looks again.
  for (;;) {
    if (queue.writing.exchange(true)) return;
    try {
      for (;;) {
        std::vector<event_t> batch;
        {
          std::lock_guard<std::mutex> guard(queue.lock);
          batch.swap(queue.events);
        }
        if (batch.empty()) break;
        const uint32_t current = level();
        for (const event_t& event : batch) {
          if (wanted(event.type, current)) sink.load()(event);
        }
      }
    } catch (...) {
    }
    queue.writing.store(false);
    std::lock_guard<std::mutex> guard(queue.lock);
    if (queue.events.empty()) return;
  }
}

bool rate_limit_t::admit(uint64_t interval_ms) noexcept {
  const uint64_t now = now_ms();
  uint64_t next = next_.load();
  if (now < next) return false;
  return next_.compare_exchange_strong(next, now + interval_ms);
}

std::u16string number(uint64_t value) { return text(std::to_string(value)); }

std::u16string hex(uint32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof(buffer), "0x%08X", static_cast<unsigned>(value));
  return text(buffer);
}

std::u16string text(const std::string& narrow) { return to_wide(narrow); }

}  // namespace shv::events
