// SHVConfigModule: what the healthcfg module keeps for the whole process (its
// handle for the dialog and string resources, its lock count).
#pragma once

#include "base/com_object.h"
#include "common/component_ids.h"
#include "platform/com.h"

namespace shv_cfg {

// Recorded by the entry point; before that, the module holding this code.
HMODULE module_handle();
void set_module_handle(HMODULE module);

// Live objects, factories and server locks.
base_n::module_locks_t& module_locks();

// Runs the module's registry script: S_OK or the first failure. A module path
// of 260 characters or more fails with HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER).
HRESULT update_registry(bool do_register);

}  // namespace shv_cfg
