// The top level of a COM method: what was thrown becomes an HRESULT and a
// level-1 report, never an exception across the COM boundary.
#pragma once

#include "platform/com.h"

namespace shv_cfg {

// Call inside a catch (...) of method; the HRESULT to return: the code of a
// com_error_t, E_OUTOFMEMORY for an allocation failure, E_INVALIDARG for a
// rejected argument (BUG_exception from a check), E_FAIL otherwise.
HRESULT com_failure(const char* method) noexcept;

}  // namespace shv_cfg
