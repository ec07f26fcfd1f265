// Process-wide per-thread state of the stand-in, kept in one shared library
// (libshvseam.so) so that every module's copy of the seam sees the same.
#pragma once

#include "platform/linux/win32_types.h"

// The calling thread's locale; 0 until SetThreadLocale.
extern "C" LCID* shv_seam_thread_locale();
