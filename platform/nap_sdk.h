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
#include "platform/linux/nap_sdk_types.h"
#include "platform/linux/nap_sdk_interfaces.h"
#endif

// The NAP utility library's exports (naputil.h), bound at run time.
typedef HRESULT(WINAPI* alloc_fixup_info_fn)(FixupInfo** fixup_info, UINT16 count_result_codes);
typedef HRESULT(WINAPI* alloc_counted_string_fn)(CountedString** counted_string, const WCHAR* text);
typedef void(WINAPI* free_soh_fn)(SoH* soh);
typedef void(WINAPI* free_isolation_info_fn)(IsolationInfo* isolation_info);
typedef void(WINAPI* free_soh_attribute_value_fn)(SoHAttributeType type, SoHAttributeValue* value);
