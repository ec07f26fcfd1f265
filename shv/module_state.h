// What the healthval module keeps for the whole process: its own handle (for
// its resources and file name) and its lock count (live objects and server
// locks), which the unload query reads.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/win32.h"

namespace shv {
// Recorded by the entry point; before that, the module holding this code.
HMODULE module_handle();
void set_module_handle(HMODULE module);

void module_lock();
void module_unlock();
int32_t module_lock_count();
}  // namespace shv
