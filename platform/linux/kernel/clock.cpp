// Stand-in for the system's wall clock in file-time units (100 ns since 1601).
#include <ctime>

#include "platform/win32.h"

void GetSystemTimeAsFileTime(FILETIME* out) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  // 11,644,473,600 seconds lie between 1601-01-01 and 1970-01-01.
  const uint64_t value = (static_cast<uint64_t>(ts.tv_sec) + 11644473600ull) * 10000000ull +
                         static_cast<uint64_t>(ts.tv_nsec) / 100u;
  out->dwLowDateTime = static_cast<DWORD>(value);
  out->dwHighDateTime = static_cast<DWORD>(value >> 32);
}
