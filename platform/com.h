// COM basics the tree uses: GUIDs, HRESULTs, IUnknown, IClassFactory, the task
// allocator and in-process activation. Real COM on Windows, our stand-in
// elsewhere.
#pragma once

#include "platform/win32.h"

#ifdef _WIN32
#include <objbase.h>
#include <unknwn.h>
#else
#include "platform/linux/com/com_api.h"
#endif
