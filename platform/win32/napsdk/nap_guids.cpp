// The NAP interface ids: mingw's import libraries define none of them, so
// the SDK headers' declarations become definitions in this one file.
#include "platform/win32.h"

#include <initguid.h>

#include "platform/nap_sdk.h"
