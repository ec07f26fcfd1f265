// Pinned threads on Linux: a module reference taken here, dropped by the
// thread's start routine in libshvseam.so.
#include "platform/pinned_thread.h"

#include "platform/linux/kernel/seam_state.h"
#include "platform/win32.h"

namespace plat {

bool start_pinned_thread(void (*body)(void*), void* context) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(body), &module)) {
    return false;
  }
  if (shv_seam_start_pinned_thread(module, body, context) != 0) {
    FreeLibrary(module);
    return false;
  }
  return true;
}

}  // namespace plat
