// Process-wide per-thread state of the stand-in, kept in one shared library
// (libshvseam.so) so that every module's copy of the seam sees the same.
#pragma once

#include "platform/linux/win32_types.h"

// The calling thread's locale; 0 until SetThreadLocale.
extern "C" LCID* shv_seam_thread_locale();

// Starts a detached thread that runs body(context) and then drops one
// reference to module (dlclose). The thread's start routine lives here,
// outside every module that may be unloaded, so the thread never returns into
// code that the last dlclose has unmapped. Returns 0 or an errno value (the
// module reference is then left to the caller).
extern "C" int shv_seam_start_pinned_thread(void* module, void (*body)(void*), void* context);
