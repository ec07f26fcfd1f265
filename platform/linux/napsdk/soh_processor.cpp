// The SoH reader (INapSoHProcessor): walks one validator's SoH and hands out
// decoded copies of its attributes.
#include <vector>

#include "platform/linux/napsdk/napsdk.h"
#include "platform/soh/soh_memory.h"

namespace napsdk {

std::vector<soh_wire::attribute_t> checked_attributes(const SoH& soh) {
  std::vector<soh_wire::attribute_t> attributes = soh_memory::read_soh(soh);
  if (attributes.empty() || attributes.front().type != soh_wire::system_health_id) {
    throw soh_wire::format_error("an SoH must start with its System-Health-Id");
  }
  if (attributes.size() > soh_wire::max_attributes) throw soh_wire::format_error("too many attributes");
  for (size_t i = 0; i < attributes.size(); ++i) soh_wire::check_attribute(attributes[i], i);
  return attributes;
}

namespace {

class soh_processor_t : public INapSoHProcessor, public base_n::ref_counted_t<soh_processor_t, &locks> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    return base_n::query_single<INapSoHProcessor>(this, riid, IID_INapSoHProcessor, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return add_ref(); }
  ULONG STDMETHODCALLTYPE Release() override { return release(); }

  HRESULT STDMETHODCALLTYPE Initialize(const SoH* soh, BOOL, SystemHealthEntityId* id) override {
    if (soh == nullptr || id == nullptr) return E_POINTER;
    try {
      attributes_ = checked_attributes(*soh);
    } catch (const soh_wire::format_error&) {
      attributes_.clear();
      initialized_ = false;
      return NAP_E_INVALID_PACKET;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    initialized_ = true;
    *id = soh_wire::read_u32(attributes_.front().value, 0);
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE FindNextAttribute(UINT16 from, SoHAttributeType type, UINT16* location) override {
    if (location == nullptr) return E_POINTER;
    if (!initialized_) return E_UNEXPECTED;
    for (size_t i = from; i < attributes_.size(); ++i) {
      if (attributes_[i].type == static_cast<uint16_t>(type)) {
        *location = static_cast<UINT16>(i);
        return S_OK;
      }
    }
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }

  HRESULT STDMETHODCALLTYPE GetAttribute(UINT16 location, SoHAttributeType* type, SoHAttributeValue** value) override {
    if (type == nullptr || value == nullptr) return E_POINTER;
    if (!initialized_) return E_UNEXPECTED;
    if (location >= attributes_.size()) return E_INVALIDARG;
    try {
      SoHAttributeValue* decoded = soh_memory::decode_value(attributes_[location]);
      if (decoded == nullptr) return E_OUTOFMEMORY;
      *type = static_cast<SoHAttributeType>(attributes_[location].type);
      *value = decoded;
    } catch (const soh_wire::format_error&) {
      return NAP_E_INVALID_PACKET;
    }
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetNumberOfAttributes(UINT16* count) override {
    if (count == nullptr) return E_POINTER;
    if (!initialized_) return E_UNEXPECTED;
    *count = static_cast<UINT16>(attributes_.size());
    return S_OK;
  }

 private:
  std::vector<soh_wire::attribute_t> attributes_;
  bool initialized_ = false;
};

}  // namespace

HRESULT create_soh_processor(REFIID riid, void** object) {
  return base_n::get_class_factory<soh_processor_t, &locks>(riid, object);
}

}  // namespace napsdk
