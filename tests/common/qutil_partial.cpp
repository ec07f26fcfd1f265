// A NAP utility library missing its last function, for the binding's
// failure path. The four present functions must never be called.
#include <cstdlib>

#include "platform/nap_sdk.h"

#ifdef _WIN32
#define PARTIAL_EXPORT extern "C" __declspec(dllexport)
#else
#define PARTIAL_EXPORT extern "C" __attribute__((visibility("default")))
#endif

PARTIAL_EXPORT HRESULT AllocFixupInfo(FixupInfo**, UINT16) { std::abort(); }
PARTIAL_EXPORT HRESULT AllocCountedString(CountedString**, const WCHAR*) { std::abort(); }
PARTIAL_EXPORT void FreeSoH(SoH*) { std::abort(); }
PARTIAL_EXPORT void FreeIsolationInfo(IsolationInfo*) { std::abort(); }
