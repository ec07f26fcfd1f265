// Stand-in for the NAP SDK: its records and interfaces (nap_sdk_*.h), and the
// SoH reader, SoH writer and server management as COM classes of one module,
// also built for Wine. Left out on purpose: NAP's client side and every
// interface the validator neither implements nor calls.
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
