// NAP SDK types and interfaces: the real SDK headers on Windows, our
// declarations (same layouts, same vtable orders) elsewhere.
#pragma once

#include "platform/com.h"

#ifdef _WIN32
#include <naptypes.h>
#include <napprotocol.h>
#include <napcommon.h>
#include <napsystemhealthvalidator.h>
#include <napservermanagement.h>
#include <naputil.h>
#else
#include "platform/linux/napsdk/nap_sdk_types.h"
#include "platform/linux/napsdk/nap_sdk_interfaces.h"
#endif

// The NAP utility library's exports (naputil.h), bound at run time.
typedef HRESULT(WINAPI* alloc_fixup_info_fn)(FixupInfo** fixup_info, UINT16 count_result_codes);
typedef HRESULT(WINAPI* alloc_counted_string_fn)(CountedString** counted_string, const WCHAR* text);
typedef void(WINAPI* free_soh_fn)(SoH* soh);
typedef void(WINAPI* free_isolation_info_fn)(IsolationInfo* isolation_info);
typedef void(WINAPI* free_soh_attribute_value_fn)(SoHAttributeType type, SoHAttributeValue* value);

// Classes of the NAP system that the SDK's import libraries do not define.
inline constexpr CLSID clsid_nap_soh_constructor = {0xE8140D53, 0x6535, 0x46A5, {0xB8, 0xA1, 0xDA, 0x6C, 0x57, 0x1D, 0xA9, 0xB9}};
inline constexpr CLSID clsid_nap_soh_processor = {0xAA160628, 0x8775, 0x46E3, {0x83, 0x7C, 0xF7, 0xA2, 0xAE, 0x66, 0xE2, 0xF5}};
inline constexpr CLSID clsid_nap_server_management = {0xBFCB2C6D, 0x04AA, 0x4FB9, {0xBC, 0x72, 0x58, 0xE1, 0xAF, 0x64, 0xBE, 0x39}};
