// Stand-in for the NAP utility library, also built as QUtil.dll for Wine. Left
// out on purpose: every export but the five the tree binds.
//
// The NAP SDK's records are allocated and released with the COM task
// allocator, so that whatever one module allocates here any other module may
// free with CoTaskMemFree.
#include <cstring>

#include "platform/nap_sdk.h"

#define QUTIL_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

size_t text_length(const WCHAR* text) {
  size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

void free_counted_string_chars(CountedString& cs) {
  CoTaskMemFree(cs.string);
  cs.string = nullptr;
  cs.length = 0;
}

// What a decoded attribute value owns depends on its type.
void free_value_contents(SoHAttributeType type, SoHAttributeValue& value) {
  switch (type) {
    case sohAttributeTypeSystemHealthId:
    case sohAttributeTypeTimeOfLastUpdate:
    case sohAttributeTypeSoHGenerationTime:
    case sohAttributeTypeHealthClass:
    case sohAttributeTypeFailureCategory:
    case sohAttributeTypeExtendedIsolationState:
      break;
    case sohAttributeTypeIpv4FixupServers:
      CoTaskMemFree(value.v4AddressesVal.addresses);
      break;
    case sohAttributeTypeIpv6FixupServers:
      CoTaskMemFree(value.v6AddressesVal.addresses);
      break;
    case sohAttributeTypeComplianceResultCodes:
    case sohAttributeTypeErrorCodes:
      CoTaskMemFree(value.codesVal.results);
      break;
    case sohAttributeTypeVendorSpecific:
      CoTaskMemFree(value.vendorSpecificVal.vendorSpecificData);
      break;
    default:
      CoTaskMemFree(value.octetStringVal.data);
      break;
  }
}

}  // namespace

// A zeroed record with room for count result codes (none for 0).
QUTIL_EXPORT HRESULT AllocFixupInfo(FixupInfo** fixup_info, UINT16 count_result_codes) {
  if (fixup_info == nullptr) return E_POINTER;
  *fixup_info = nullptr;
  auto* info = static_cast<FixupInfo*>(CoTaskMemAlloc(sizeof(FixupInfo)));
  if (info == nullptr) return E_OUTOFMEMORY;
  std::memset(info, 0, sizeof(FixupInfo));
  if (count_result_codes != 0) {
    auto* codes = static_cast<HRESULT*>(CoTaskMemAlloc(sizeof(HRESULT) * count_result_codes));
    if (codes == nullptr) {
      CoTaskMemFree(info);
      return E_OUTOFMEMORY;
    }
    std::memset(codes, 0, sizeof(HRESULT) * count_result_codes);
    info->resultCodes.count = count_result_codes;
    info->resultCodes.results = codes;
  }
  *fixup_info = info;
  return S_OK;
}

// A new record whose characters are a terminated copy of text. Texts longer
// than the SDK's counted-string limit are refused: the 16-bit length must
// never wrap.
QUTIL_EXPORT HRESULT AllocCountedString(CountedString** counted_string, const WCHAR* text) {
  if (counted_string == nullptr) return E_POINTER;
  *counted_string = nullptr;
  if (text == nullptr) return E_POINTER;
  const size_t length = text_length(text);
  if (length > maxStringLength) return E_INVALIDARG;
  auto* cs = static_cast<CountedString*>(CoTaskMemAlloc(sizeof(CountedString)));
  if (cs == nullptr) return E_OUTOFMEMORY;
  auto* chars = static_cast<WCHAR*>(CoTaskMemAlloc((length + 1) * sizeof(WCHAR)));
  if (chars == nullptr) {
    CoTaskMemFree(cs);
    return E_OUTOFMEMORY;
  }
  std::memcpy(chars, text, (length + 1) * sizeof(WCHAR));
  cs->length = static_cast<UINT16>(length);
  cs->string = chars;
  *counted_string = cs;
  return S_OK;
}

// The record, its attribute array and every attribute's value bytes.
QUTIL_EXPORT void FreeSoH(SoH* soh) {
  if (soh == nullptr) return;
  if (soh->attributes != nullptr) {
    for (UINT16 i = 0; i < soh->count; ++i) CoTaskMemFree(soh->attributes[i].value);
    CoTaskMemFree(soh->attributes);
  }
  CoTaskMemFree(soh);
}

QUTIL_EXPORT void FreeIsolationInfo(IsolationInfo* isolation_info) {
  if (isolation_info == nullptr) return;
  free_counted_string_chars(isolation_info->failureUrl);
  CoTaskMemFree(isolation_info);
}

// A value handed out by INapSoHProcessor::GetAttribute: what it owns for its
// type, then the value record itself.
QUTIL_EXPORT void FreeSoHAttributeValue(SoHAttributeType type, SoHAttributeValue* value) {
  if (value == nullptr) return;
  free_value_contents(type, *value);
  CoTaskMemFree(value);
}
