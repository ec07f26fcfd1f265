// The prefix of every line.
#include <atomic>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "kern/clock.h"
#include "kern/logger.h"
#include "kern/runnable.h"
#include "platform/win32.h"

namespace {

// The local date and time of the second most lines fall in, packed into one
// word that any thread reads and replaces without a lock: the low 24 bits of
// the Unix second it belongs to, then year (14 bits), month, day, hour,
// minute and second. Converting the time is most of a prefix's cost. (No
// thread-local cache: on Windows the toolchain emulates thread-locals with
// per-thread records that a module's unload cannot give back.)
std::atomic<uint64_t> cached_time{0};  // 0: nothing cached (a year is never 0)

struct local_time_t {
  int year, month, day, hour, minute, second;
};

uint64_t pack(int64_t unix_second, const local_time_t& t) {
  return (static_cast<uint64_t>(unix_second) & 0xFFFFFF) << 40 | static_cast<uint64_t>(t.year) << 26 |
         static_cast<uint64_t>(t.month) << 22 | static_cast<uint64_t>(t.day) << 17 |
         static_cast<uint64_t>(t.hour) << 12 | static_cast<uint64_t>(t.minute) << 6 |
         static_cast<uint64_t>(t.second);
}

local_time_t local_time_of(int64_t unix_second) {
  const uint64_t packed = cached_time.load(std::memory_order_relaxed);
  if (packed != 0 && packed >> 40 == (static_cast<uint64_t>(unix_second) & 0xFFFFFF)) {
    return {static_cast<int>(packed >> 26 & 0x3FFF), static_cast<int>(packed >> 22 & 0xF),
            static_cast<int>(packed >> 17 & 0x1F),   static_cast<int>(packed >> 12 & 0x1F),
            static_cast<int>(packed >> 6 & 0x3F),    static_cast<int>(packed & 0x3F)};
  }
  const std::time_t t = static_cast<std::time_t>(unix_second);
  std::tm local{};
  localtime_s(&local, &t);
  const local_time_t fields{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                            local.tm_hour,        local.tm_min,     local.tm_sec};
  cached_time.store(pack(unix_second, fields), std::memory_order_relaxed);
  return fields;
}

// value in base 10 or 16 (lower case), at least width characters, padded
// on the left with pad.
void append_digits(std::string& out, uint64_t value, int width, unsigned base = 10, char pad = '0') {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = "0123456789abcdef"[value % base];
    value /= base;
  } while (value != 0);
  for (int i = n; i < width; ++i) out += pad;
  while (n > 0) out += digits[--n];
}

}  // namespace

// "%04d%02d%02d.%02d%02d%02d.%02d %3s [%5lu %04lx] %-6s ": local date and time,
// hundredths, level tag, process id, thread id, thread name.
std::string make_line_prefix(int level) {
  const timegap_t now = clock_ticks(kern_n::clock_wall);
  const int64_t unix_second = now / ticks_per_second - kern_n::unix_epoch_seconds;
  const int hundredths = static_cast<int>((now % ticks_per_second) / ticks_per_millisecond / 10);
  const local_time_t t = local_time_of(unix_second);
  const char* name = kern_n::runnable_t::current_name();
  const size_t name_length = std::strlen(name);

  std::string out;
  out.reserve(48 + name_length);
  append_digits(out, static_cast<uint64_t>(t.year), 4);
  append_digits(out, static_cast<uint64_t>(t.month), 2);
  append_digits(out, static_cast<uint64_t>(t.day), 2);
  out += '.';
  append_digits(out, static_cast<uint64_t>(t.hour), 2);
  append_digits(out, static_cast<uint64_t>(t.minute), 2);
  append_digits(out, static_cast<uint64_t>(t.second), 2);
  out += '.';
  append_digits(out, static_cast<uint64_t>(hundredths), 2);
  out += ' ';
  out += level_tag(level);
  out += " [";
  // "%5lu %04lx": the process id right-aligned in five columns, the thread
  // id in lower-case hexadecimal, at least four digits.
  append_digits(out, GetCurrentProcessId(), 5, 10, ' ');
  out += ' ';
  append_digits(out, GetCurrentThreadId(), 4, 16);
  out += "] ";
  out.append(name, name_length);
  if (name_length < 6) out.append(6 - name_length, ' ');
  out += ' ';
  return out;
}
