// Calls one registration export of a module file, telling a module that
// cannot be loaded at all from one whose export failed.
#pragma once

#include "platform/win32.h"

#include <string>

namespace setup_n {

struct export_result_t {
  bool loaded = false;  // false: the loader refused the file (hr says why)
  HRESULT hr = E_FAIL;
};

// Loads the module at path in a multithreaded apartment, as the NAP
// server's process has it, calls its export name and unloads it again.
export_result_t call_export(const std::wstring& path, const char* name);

}  // namespace setup_n
