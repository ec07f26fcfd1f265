// The registry side of the COM stand-in's activation.
#include "platform/linux/com_registry.h"

namespace plat_linux {

HRESULT inproc_server_path(REFCLSID, std::string& path) {
  // Until the registry stand-in is part of the seam no class is registered.
  path.clear();
  return REGDB_E_CLASSNOTREG;
}

}  // namespace plat_linux
