// Points the loader at the real NAP utility library and binds it.
#pragma once

#include <cstdlib>

#include "common/nap_common.h"

inline bool bind_real_qutil() {
  setenv("SHV_LIBRARY_PATH", QUTIL_DIR, 1);
  return napcommon::bind_qutil();
}
