// Process facts from the process memory counters.
#include "platform/process_stats.h"

#include <windows.h>
#include <psapi.h>

namespace plat {
namespace {
PROCESS_MEMORY_COUNTERS counters() {
  PROCESS_MEMORY_COUNTERS c{};
  c.cb = sizeof(c);
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &c, sizeof(c))) c = PROCESS_MEMORY_COUNTERS{};
  return c;
}
}  // namespace

uint64_t peak_resident_kib() { return static_cast<uint64_t>(counters().PeakWorkingSetSize) / 1024; }
uint64_t resident_kib() { return static_cast<uint64_t>(counters().WorkingSetSize) / 1024; }
}  // namespace plat
