// The prefix of every log line.
#include <cstdio>
#include <ctime>

#include "kern/clock.h"
#include "kern/logger.h"
#include "kern/runnable.h"
#include "platform/win32.h"

namespace {

// Broken-down local time of one second, kept per thread: converting is the
// costly part of a prefix and most lines of a thread fall in the same second.
struct local_second_t {
  int64_t second = INT64_MIN;
  std::tm local{};
};

const std::tm& local_time_of(int64_t unix_second) {
  thread_local local_second_t cache;
  if (cache.second != unix_second) {
    const std::time_t t = static_cast<std::time_t>(unix_second);
#ifdef _WIN32
    localtime_s(&cache.local, &t);
#else
    localtime_r(&t, &cache.local);
#endif
    cache.second = unix_second;
  }
  return cache.local;
}

}  // namespace

std::string make_line_prefix(int level) {
  const timegap_t now = clock_ticks(kern_n::clock_wall);
  const int64_t unix_second = now / ticks_per_second - kern_n::unix_epoch_seconds;
  const int hundredths = static_cast<int>((now % ticks_per_second) / ticks_per_millisecond / 10);
  const std::tm& t = local_time_of(unix_second);
  const char* name = kern_n::runnable_t::current_name();
  std::string out(96, '\0');
  for (;;) {
    const int n = std::snprintf(out.data(), out.size() + 1, "%04d%02d%02d.%02d%02d%02d.%02d %3s [%5lu %04lx] %-6s ",
                                t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                                t.tm_sec, hundredths, level_tag(level),
                                static_cast<unsigned long>(GetCurrentProcessId()),
                                static_cast<unsigned long>(GetCurrentThreadId()), name);
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) <= out.size()) {
      out.resize(static_cast<size_t>(n));
      return out;
    }
    out.resize(static_cast<size_t>(n));  // a long thread name: once more, big enough
  }
}
