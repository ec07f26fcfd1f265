// Where the COM stand-in finds an in-process server's module.
#pragma once

#include <string>

#include "platform/com.h"

namespace plat_linux {
// The default value of HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32, as a
// narrow path; REGDB_E_CLASSNOTREG when the class or its module entry is not
// registered, REGDB_E_READREGDB when the registry cannot be read.
HRESULT inproc_server_path(REFCLSID clsid, std::string& path);
}  // namespace plat_linux
