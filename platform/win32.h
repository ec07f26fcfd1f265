// The one platform seam: the Win32 subset the tree calls. On Windows it is the
// real thing; elsewhere it is our stand-in under platform/linux/.
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
// Winsock 2 ahead of <windows.h>, which would otherwise pull in the old
// winsock.h that the networking library cannot live with.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <io.h>
#else
#include "platform/linux/win32_types.h"
#include "platform/linux/kernel/kernel_api.h"
#include "platform/linux/dialog/dialog_api.h"
#include "platform/linux/registry/registry_api.h"
#include "platform/linux/eventlog/eventlog_api.h"
#include "platform/linux/winsock/winsock_api.h"
#endif

#include "platform/wide.h"
