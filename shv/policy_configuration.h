// Which configuration judges a request: the one its network policy names,
// when the NAP server says and that configuration exists; else the default.
#pragma once

#include <cstdint>
#include <optional>

#include "common/settings.h"
#include "platform/nap_sdk.h"

namespace shv {

// The configuration id the request carries: 0 for a request of a NAP server
// that names none (no INapSystemHealthValidationRequest2); none for one whose
// id cannot be had (logged at level 1 with the error), since no other
// policy's configuration may judge it in its place.
std::optional<uint32_t> configuration_id(INapSystemHealthValidationRequest* request);

// The settings of configuration id, read at once: none for the default (its
// values are read one by one where they are used, as they always were) and
// for an id that does not exist, which is logged at level 1 once per id, so
// that the default judges. A configuration that exists but cannot be read
// gives the defaults of the settings table (no server: the request fails),
// logged at level 1.
std::optional<shv_settings::values_t> configuration_settings(uint32_t id);

}  // namespace shv
