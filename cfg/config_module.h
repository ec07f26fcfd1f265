// SHVConfigModule: what the healthcfg module keeps for the whole process (its
// handle for the dialog and string resources, its lock count) and its
// identities.
#pragma once

#include "base/com_object.h"
#include "platform/com.h"

namespace shv_cfg {

// {0C5C9CEC-1FF7-42e3-AC8F-4D9BAE296C5D}
inline constexpr CLSID clsid_shv_config = {0x0C5C9CEC, 0x1FF7, 0x42E3, {0xAC, 0x8F, 0x4D, 0x9B, 0xAE, 0x29, 0x6C, 0x5D}};

// Recorded by the entry point; before that, the module holding this code.
HMODULE module_handle();
void set_module_handle(HMODULE module);

// Live objects, factories and server locks.
base_n::module_locks_t& module_locks();

// Runs the module's registry script: S_OK or the first failure. A module path
// of 260 characters or more fails with HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER).
HRESULT update_registry(bool do_register);

}  // namespace shv_cfg
