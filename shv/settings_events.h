// The settings' read problems as events: a missing or unreadable settings key
// and a value of the wrong type, at most one a minute per value and problem.
#pragma once

#include <cstdint>

namespace shv::settings_events {

constexpr uint64_t interval_ms = 60 * 1000;

// Makes the settings store tell this module of its read problems (attach),
// and stops it (unload).
void install() noexcept;
void uninstall() noexcept;

}  // namespace shv::settings_events
