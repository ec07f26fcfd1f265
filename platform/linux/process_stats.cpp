// Process facts from getrusage.
#include <sys/resource.h>

#include "platform/process_stats.h"

namespace plat {
uint64_t peak_resident_kib() {
  rusage usage{};
  if (getrusage(RUSAGE_SELF, &usage) != 0) return 0;
  return static_cast<uint64_t>(usage.ru_maxrss);  // KiB on Linux
}
}  // namespace plat
