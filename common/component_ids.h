// The components' COM identities, named by both modules, the tools, the tests
// and the benchmarks: the class ids are part of the binary interface that
// the NAP server and the management console keep in their registrations.
#pragma once

#include "platform/com.h"

// healthval's System Health Validator.
// {60d48d71-1c65-4775-a2c2-2e331632914d}
inline constexpr CLSID CLSID_SHVValidator = {0x60d48d71, 0x1c65, 0x4775, {0xa2, 0xc2, 0x2e, 0x33, 0x16, 0x32, 0x91, 0x4d}};

// healthcfg's configurator, which the validator's registration names.
// {0C5C9CEC-1FF7-42e3-AC8F-4D9BAE296C5D}
inline constexpr CLSID CLSID_SHVConfig = {0x0C5C9CEC, 0x1FF7, 0x42E3, {0xAC, 0x8F, 0x4D, 0x9B, 0xAE, 0x29, 0x6C, 0x5D}};
