// The prefix of every log line.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "kern/clock.h"
#include "kern/logger.h"
#include "kern/runnable.h"
#include "platform/win32.h"

namespace {

// Per-thread cache of the parts of the prefix that change slowly: the date and
// time of one second, and the "[pid tid]" bracket. Converting the time and
// printing these fields is most of a prefix's cost, and most lines of a thread
// fall in the same second.
struct prefix_cache_t {
  int64_t second = INT64_MIN;
  char date_time[32] = {};  // "YYYYMMDD.HHMMSS."
  size_t date_time_length = 0;
  char bracket[48] = {};  // "[ pid tid]"
  size_t bracket_length = 0;
};

prefix_cache_t& cache_for(int64_t unix_second) {
  thread_local prefix_cache_t cache;
  if (cache.bracket_length == 0) {
    const int n = std::snprintf(cache.bracket, sizeof(cache.bracket), "[%5lu %04lx]",
                                static_cast<unsigned long>(GetCurrentProcessId()),
                                static_cast<unsigned long>(GetCurrentThreadId()));
    cache.bracket_length = n > 0 ? static_cast<size_t>(n) : 0;
  }
  if (cache.second != unix_second) {
    const std::time_t t = static_cast<std::time_t>(unix_second);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &t);
#else
    localtime_r(&t, &local);
#endif
    const int n = std::snprintf(cache.date_time, sizeof(cache.date_time), "%04d%02d%02d.%02d%02d%02d.",
                                local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                                local.tm_min, local.tm_sec);
    cache.date_time_length = n > 0 ? static_cast<size_t>(n) : 0;
    cache.second = unix_second;
  }
  return cache;
}

}  // namespace

// "%04d%02d%02d.%02d%02d%02d.%02d %3s [%5lu %04lx] %-6s ": local date and time,
// hundredths, level tag, process id, thread id, thread name.
std::string make_line_prefix(int level) {
  const timegap_t now = clock_ticks(kern_n::clock_wall);
  const int64_t unix_second = now / ticks_per_second - kern_n::unix_epoch_seconds;
  const int hundredths = static_cast<int>((now % ticks_per_second) / ticks_per_millisecond / 10);
  const prefix_cache_t& cache = cache_for(unix_second);
  const char* name = kern_n::runnable_t::current_name();
  const size_t name_length = std::strlen(name);
  const char* tag = level_tag(level);

  std::string out;
  out.reserve(cache.date_time_length + cache.bracket_length + name_length + 16);
  out.append(cache.date_time, cache.date_time_length);
  out += static_cast<char>('0' + hundredths / 10);
  out += static_cast<char>('0' + hundredths % 10);
  out += ' ';
  out += tag;
  out += ' ';
  out.append(cache.bracket, cache.bracket_length);
  out += ' ';
  out.append(name, name_length);
  if (name_length < 6) out.append(6 - name_length, ' ');
  out += ' ';
  return out;
}
