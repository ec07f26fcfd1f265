// The prefix of every line, into a string or into a fixed buffer.
#include <atomic>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>

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

// The prefix goes into a string (log lines) or into a fixed buffer, cut at
// its end (a line written where nothing may be allocated).
struct string_out_t {
  std::string& text;
  void add(char c) { text += c; }
  void add(const char* chars, size_t n) { text.append(chars, n); }
};
struct buffer_out_t {
  char* buffer;
  size_t size;  // the room, its terminating zero included (at least 1)
  size_t used = 0;
  void add(char c) {
    if (used + 1 < size) buffer[used++] = c;
  }
  void add(const char* chars, size_t n) {
    for (size_t i = 0; i < n; ++i) add(chars[i]);
  }
};

// value in base 10 or 16 (lower case), at least width characters, padded
// on the left with pad.
template <class Out>
void add_digits(Out& out, uint64_t value, int width, unsigned base = 10, char pad = '0') {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = "0123456789abcdef"[value % base];
    value /= base;
  } while (value != 0);
  for (int i = n; i < width; ++i) out.add(pad);
  while (n > 0) out.add(digits[--n]);
}

// "%04d%02d%02d.%02d%02d%02d.%02d %3s [%5lu %04lx] %-6s ": local date and time,
// hundredths, level tag, process id, thread id, thread name.
template <class Out>
void add_prefix(Out& out, int level, const char* name, size_t name_length) {
  const timegap_t now = clock_ticks(kern_n::clock_wall);
  const int64_t unix_second = now / ticks_per_second - kern_n::unix_epoch_seconds;
  const int hundredths = static_cast<int>((now % ticks_per_second) / ticks_per_millisecond / 10);
  const local_time_t t = local_time_of(unix_second);
  add_digits(out, static_cast<uint64_t>(t.year), 4);
  add_digits(out, static_cast<uint64_t>(t.month), 2);
  add_digits(out, static_cast<uint64_t>(t.day), 2);
  out.add('.');
  add_digits(out, static_cast<uint64_t>(t.hour), 2);
  add_digits(out, static_cast<uint64_t>(t.minute), 2);
  add_digits(out, static_cast<uint64_t>(t.second), 2);
  out.add('.');
  add_digits(out, static_cast<uint64_t>(hundredths), 2);
  out.add(' ');
  out.add(level_tag(level), 3);
  out.add(" [", 2);
  // "%5lu %04lx": the process id right-aligned in five columns, the thread
  // id in lower-case hexadecimal, at least four digits.
  add_digits(out, GetCurrentProcessId(), 5, 10, ' ');
  out.add(' ');
  add_digits(out, GetCurrentThreadId(), 4, 16);
  out.add("] ", 2);
  out.add(name, name_length);
  for (size_t i = name_length; i < 6; ++i) out.add(' ');
  out.add(' ');
}

}  // namespace

std::string make_line_prefix(int level) {
  const char* name = kern_n::runnable_t::current_name();
  const size_t name_length = std::strlen(name);
  std::string text;
  text.reserve(48 + name_length);
  string_out_t out{text};
  add_prefix(out, level, name, name_length);
  return text;
}

size_t format_line_into(int level, const char* message, char* buffer, size_t size) noexcept {
  if (size == 0) return 0;
  const char* name = kern_n::runnable_t::current_name();
  buffer_out_t out{buffer, size};
  add_prefix(out, level, name, std::strlen(name));
  out.add(message, std::strlen(message));
  out.add('\n');
  buffer[out.used] = '\0';
  return out.used;
}
