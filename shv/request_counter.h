// The number of admitted validation requests whose worker has not yet reached
// its completion step; the module's unload query reads it.
#pragma once

#include <atomic>
#include <cstdint>

namespace shv {
constexpr uint32_t max_requests = 128;
std::atomic<uint32_t>& request_thread_count();
// Worker threads started and not yet out of the module's code.
std::atomic<uint32_t>& live_workers();
}  // namespace shv
