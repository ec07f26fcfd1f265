// Process facts from the process memory counters.
#include "platform/process_stats.h"

#include <windows.h>
#include <psapi.h>

namespace plat {
uint64_t peak_resident_kib() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof(counters);
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) return 0;
  return static_cast<uint64_t>(counters.PeakWorkingSetSize) / 1024;
}
}  // namespace plat
