// The library clock over the system's file time and thread times.
#include "kern/clock.h"

#include "platform/win32.h"

namespace {
int64_t filetime_value(const FILETIME& t) {
  return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}
}  // namespace

timegap_t clock_ticks(int kind) {
  if (kind == kern_n::clock_thread_cpu) {
    FILETIME creation, exit, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &creation, &exit, &kernel, &user)) return 0;
    return (filetime_value(kernel) + filetime_value(user)) * 10;
  }
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return (filetime_value(now) + kern_n::filetime_offset) * 10;
}
