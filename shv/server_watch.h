// Whether each central server, as a configuration names it (ServerName and
// ServerPort as stored), is giving verdicts: the warning when it stops, a
// reminder at most every ten minutes while it lasts, the information when a
// verdict comes again. Decided with atomics; the events are only queued.
#pragma once

#include <cstdint>
#include <string>

#include "shv/nap_servers.h"

namespace shv::server_watch {

constexpr uint64_t reminder_interval_ms = 10 * 60 * 1000;
// Servers watched at once; beyond, a new one is watched only when one that
// is giving verdicts can make room.
constexpr size_t max_servers = 64;

// A request of this setting got a verdict from one of its servers.
void note_verdict(const std::string& setting, uint32_t port) noexcept;
// It got none; reason is the first server's.
void note_no_verdict(const std::string& setting, uint32_t port, nap_servers::failure_t reason) noexcept;

}  // namespace shv::server_watch
