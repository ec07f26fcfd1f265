// SoH records and attribute values in the task allocator's memory.
#include "platform/soh/soh_memory.h"

#include <cstring>
#include <memory>
#include <utility>

namespace soh_memory {

namespace {

template <class T>
T* allocate(size_t count = 1) {
  if (count == 0) return nullptr;
  void* p = CoTaskMemAlloc(sizeof(T) * count);
  if (p != nullptr) std::memset(p, 0, sizeof(T) * count);
  return static_cast<T*>(p);
}

uint32_t big_endian_32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}

void put_32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

// Frees a half-built value the way FreeSoHAttributeValue would.
struct value_owner_t {
  SoHAttributeValue* value;
  BYTE* bytes = nullptr;
  HRESULT* codes = nullptr;
  ~value_owner_t() {
    CoTaskMemFree(bytes);
    CoTaskMemFree(codes);
    CoTaskMemFree(value);
  }
};

}  // namespace

SoH* make_soh(const std::vector<soh_wire::attribute_t>& attributes) {
  if (attributes.size() > 0xFFFF) return nullptr;
  SoH* soh = allocate<SoH>();
  if (soh == nullptr) return nullptr;
  soh->attributes = allocate<SoHAttribute>(attributes.size());
  if (!attributes.empty() && soh->attributes == nullptr) {
    CoTaskMemFree(soh);
    return nullptr;
  }
  soh->count = static_cast<UINT16>(attributes.size());
  for (size_t i = 0; i < attributes.size(); ++i) {
    const auto& a = attributes[i];
    SoHAttribute& out = soh->attributes[i];
    out.type = a.type;
    out.size = static_cast<UINT16>(a.value.size());
    out.value = allocate<BYTE>(a.value.size());
    if (!a.value.empty() && out.value == nullptr) {
      for (size_t j = 0; j < i; ++j) CoTaskMemFree(soh->attributes[j].value);
      CoTaskMemFree(soh->attributes);
      CoTaskMemFree(soh);
      return nullptr;
    }
    if (!a.value.empty()) std::memcpy(out.value, a.value.data(), a.value.size());
  }
  return soh;
}

std::vector<soh_wire::attribute_t> read_soh(const SoH& soh) {
  std::vector<soh_wire::attribute_t> out;
  if (soh.count != 0 && soh.attributes == nullptr) throw soh_wire::format_error("SoH without its attribute array");
  for (UINT16 i = 0; i < soh.count; ++i) {
    const SoHAttribute& a = soh.attributes[i];
    if (a.size != 0 && a.value == nullptr) throw soh_wire::format_error("attribute without its value");
    out.push_back({a.type, std::vector<uint8_t>(a.value, a.value + a.size)});
  }
  return out;
}

SoHAttributeValue* decode_value(const soh_wire::attribute_t& a) {
  const std::vector<uint8_t>& v = a.value;
  value_owner_t owner{allocate<SoHAttributeValue>()};
  if (owner.value == nullptr) return nullptr;
  SoHAttributeValue& out = *owner.value;
  switch (a.type) {
    case sohAttributeTypeSystemHealthId:
      if (v.size() != 4) throw soh_wire::format_error("System-Health-Id must be 4 bytes");
      out.idVal = big_endian_32(v.data());
      break;
    case sohAttributeTypeComplianceResultCodes:
    case sohAttributeTypeErrorCodes: {
      if (v.empty() || v.size() % 4 != 0) throw soh_wire::format_error("result codes must be a positive multiple of 4 bytes");
      const size_t n = v.size() / 4;
      owner.codes = allocate<HRESULT>(n);
      if (owner.codes == nullptr) return nullptr;
      for (size_t i = 0; i < n; ++i) owner.codes[i] = static_cast<HRESULT>(big_endian_32(v.data() + 4 * i));
      out.codesVal.count = static_cast<UINT16>(n);
      out.codesVal.results = owner.codes;
      break;
    }
    case sohAttributeTypeVendorSpecific:
      if (v.size() < 4) throw soh_wire::format_error("vendor-specific value shorter than its vendor id");
      out.vendorSpecificVal.vendorId = big_endian_32(v.data());
      out.vendorSpecificVal.size = static_cast<UINT16>(v.size() - 4);
      if (v.size() > 4) {
        owner.bytes = allocate<BYTE>(v.size() - 4);
        if (owner.bytes == nullptr) return nullptr;
        std::memcpy(owner.bytes, v.data() + 4, v.size() - 4);
      }
      out.vendorSpecificVal.vendorSpecificData = owner.bytes;
      break;
    case sohAttributeTypeHealthClass:
    case sohAttributeTypeFailureCategory:
    case sohAttributeTypeExtendedIsolationState:
      if (v.size() != 1) throw soh_wire::format_error("value must be 1 byte");
      out.uint8Val = v[0];
      break;
    default:
      // Every other type reads as an octet string (the address lists and
      // times too: nothing of this system looks inside them).
      out.octetStringVal.size = static_cast<UINT16>(v.size());
      if (!v.empty()) {
        owner.bytes = allocate<BYTE>(v.size());
        if (owner.bytes == nullptr) return nullptr;
        std::memcpy(owner.bytes, v.data(), v.size());
      }
      out.octetStringVal.data = owner.bytes;
      break;
  }
  owner.bytes = nullptr;
  owner.codes = nullptr;
  return std::exchange(owner.value, nullptr);
}

soh_wire::attribute_t encode_value(SoHAttributeType type, const SoHAttributeValue& value) {
  soh_wire::attribute_t a{static_cast<uint16_t>(type), {}};
  switch (type) {
    case sohAttributeTypeSystemHealthId:
      put_32(a.value, value.idVal);
      break;
    case sohAttributeTypeComplianceResultCodes:
    case sohAttributeTypeErrorCodes:
      if (value.codesVal.count == 0 || value.codesVal.results == nullptr) {
        throw soh_wire::format_error("result codes without codes");
      }
      for (UINT16 i = 0; i < value.codesVal.count; ++i) put_32(a.value, static_cast<uint32_t>(value.codesVal.results[i]));
      break;
    case sohAttributeTypeVendorSpecific:
      if (value.vendorSpecificVal.size != 0 && value.vendorSpecificVal.vendorSpecificData == nullptr) {
        throw soh_wire::format_error("vendor-specific value without its data");
      }
      put_32(a.value, value.vendorSpecificVal.vendorId);
      a.value.insert(a.value.end(), value.vendorSpecificVal.vendorSpecificData,
                     value.vendorSpecificVal.vendorSpecificData + value.vendorSpecificVal.size);
      break;
    case sohAttributeTypeHealthClass:
    case sohAttributeTypeFailureCategory:
    case sohAttributeTypeExtendedIsolationState:
      a.value.push_back(value.uint8Val);
      break;
    default:
      if (value.octetStringVal.size != 0 && value.octetStringVal.data == nullptr) {
        throw soh_wire::format_error("octet string without its data");
      }
      a.value.assign(value.octetStringVal.data, value.octetStringVal.data + value.octetStringVal.size);
      break;
  }
  return a;
}

}  // namespace soh_memory
