// Facts about the running process that tools report.
#pragma once

#include <cstdint>

namespace plat {
// The process's peak resident memory in KiB; 0 when unknown.
uint64_t peak_resident_kib();
// The process's resident memory now (working set) in KiB; 0 when unknown.
uint64_t resident_kib();
}  // namespace plat
