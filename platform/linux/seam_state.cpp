// Per-thread state of the stand-in that the whole process shares. Every module
// carries its own copy of the seam, but a thread's locale is one for all of
// them, as on Windows: a host that sets it must be seen by the modules it
// calls. This small shared library holds that state once per process.
#include "platform/linux/seam_state.h"

extern "C" __attribute__((visibility("default"))) LCID* shv_seam_thread_locale() {
  thread_local LCID locale = 0;
  return &locale;
}
