// Points the loader at a folder holding a NAP utility library, and binds the
// real one.
#pragma once

#include <cstdlib>

#include "common/nap_common.h"

namespace test_support {

// After this, the utility library is looked for in directory: through the
// stand-in loader's search path on Linux, the DLL directory on Windows (the
// test program's own folder holds none).
inline void point_loader_at(const char* directory) {
#ifdef _WIN32
  SetDllDirectoryA(directory);
#else
  setenv("SHV_LIBRARY_PATH", directory, 1);
#endif
}

inline bool bind_real_qutil() {
  point_loader_at(QUTIL_DIR);
  return napcommon::bind_qutil();
}

}  // namespace test_support
