// Statements of health in memory, as the NAP interfaces hand them out: SoH
// records and decoded attribute values, allocated with the task allocator so
// that the utility library's FreeSoH and FreeSoHAttributeValue release them.
#pragma once

#include <vector>

#include "platform/nap_sdk.h"
#include "platform/soh/soh_wire.h"

namespace soh_memory {

// A new SoH record holding copies of the attributes; null when out of memory.
SoH* make_soh(const std::vector<soh_wire::attribute_t>& attributes);
// The attributes of a record (values as on the wire).
std::vector<soh_wire::attribute_t> read_soh(const SoH& soh);

// The decoded form of one attribute's value (host byte order), newly
// allocated; throws soh_wire::format_error for a malformed value, returns
// null when out of memory.
SoHAttributeValue* decode_value(const soh_wire::attribute_t& attribute);
// The wire bytes of a decoded value of the given type; throws
// soh_wire::format_error when it cannot be encoded.
soh_wire::attribute_t encode_value(SoHAttributeType type, const SoHAttributeValue& value);

}  // namespace soh_memory
