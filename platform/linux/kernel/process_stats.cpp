// Process facts from getrusage and /proc.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>

#include "platform/process_stats.h"

namespace plat {
uint64_t peak_resident_kib() {
  rusage usage{};
  if (getrusage(RUSAGE_SELF, &usage) != 0) return 0;
  return static_cast<uint64_t>(usage.ru_maxrss);  // KiB on Linux
}
uint64_t resident_kib() {
  FILE* f = std::fopen("/proc/self/statm", "r");
  if (f == nullptr) return 0;
  unsigned long long size = 0, resident = 0;
  const bool read = std::fscanf(f, "%llu %llu", &size, &resident) == 2;
  std::fclose(f);
  return read ? resident * static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) / 1024 : 0;
}
}  // namespace plat
