// The NAP SDK stand-in on Linux: the SoH reader and writer and the NAP
// server's management class, as in-process COM classes of one module.
#pragma once

#include "base/com_object.h"
#include "platform/nap_sdk.h"
#include "platform/soh/soh_wire.h"

namespace napsdk {

base_n::module_locks_t& locks();

// Checks a whole SoH record: the System-Health-Id first, every attribute's
// layout and the SDK's limits. Returns the attributes or throws
// soh_wire::format_error.
std::vector<soh_wire::attribute_t> checked_attributes(const SoH& soh);

HRESULT create_soh_processor(REFIID riid, void** object);
HRESULT create_soh_constructor(REFIID riid, void** object);
HRESULT create_server_management(REFIID riid, void** object);

}  // namespace napsdk
