// Facts about loaded modules: which module holds an address, a module's file.
#pragma once

#include <string>

#include "platform/win32.h"

namespace base_n {
// The module containing address (no reference taken), or null.
HMODULE module_of_address(const void* address);
// The module's full file name as the system keeps it (UTF-16, any length);
// the main program's for null; empty on failure.
std::u16string module_path(HMODULE module);
// The same in UTF-8, as registry scripts and log lines take it.
std::string module_file_name(HMODULE module);
}  // namespace base_n
