// The one platform seam: the Win32 subset the tree calls. On Windows it is the
// real thing; elsewhere it is our stand-in under platform/linux/.
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <io.h>
#else
#include "platform/linux/win32_types.h"
#include "platform/linux/win32_api.h"
#endif

#include "platform/wide.h"
