// The NAP server's record of the validator, withdrawn without its module: for
// a record whose module no longer exists, which no DllUnregisterServer can
// withdraw.
#pragma once

#include "platform/win32.h"

namespace setup_n {

// S_OK also when the NAP server had no record of it.
HRESULT withdraw_nap_record();

}  // namespace setup_n
