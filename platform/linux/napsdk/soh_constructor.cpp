// The SoH writer (INapSoHConstructor): builds one validator's SoH, its
// System-Health-Id first, and hands out a record the caller frees with FreeSoH.
#include <vector>

#include "platform/linux/napsdk/napsdk.h"
#include "platform/soh/soh_memory.h"

namespace napsdk {

namespace {

class soh_constructor_t : public INapSoHConstructor, public base_n::ref_counted_t<soh_constructor_t, &locks> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    return base_n::query_single<INapSoHConstructor>(this, riid, IID_INapSoHConstructor, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return add_ref(); }
  ULONG STDMETHODCALLTYPE Release() override { return release(); }

  HRESULT STDMETHODCALLTYPE Initialize(SystemHealthEntityId id, BOOL) override {
    try {
      attributes_.assign(1, soh_wire::make_system_health_id(id));
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    initialized_ = true;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE AppendAttribute(SoHAttributeType type, const SoHAttributeValue* value) override {
    if (value == nullptr) return E_POINTER;
    if (!initialized_) return E_UNEXPECTED;
    if (type == sohAttributeTypeSystemHealthId) return E_INVALIDARG;  // Initialize wrote the only one
    if (attributes_.size() >= soh_wire::max_attributes) return E_INVALIDARG;
    try {
      soh_wire::attribute_t a = soh_memory::encode_value(type, *value);
      soh_wire::check_attribute(a, attributes_.size());
      attributes_.push_back(std::move(a));
    } catch (const soh_wire::format_error&) {
      return E_INVALIDARG;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetSoH(SoH** soh) override {
    if (soh == nullptr) return E_POINTER;
    *soh = nullptr;
    if (!initialized_) return E_UNEXPECTED;
    *soh = soh_memory::make_soh(attributes_);
    return *soh == nullptr ? E_OUTOFMEMORY : S_OK;
  }

  HRESULT STDMETHODCALLTYPE Validate(const SoH* soh, BOOL) override {
    if (soh == nullptr) return E_POINTER;
    try {
      checked_attributes(*soh);
    } catch (const soh_wire::format_error&) {
      return NAP_E_INVALID_PACKET;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }

 private:
  std::vector<soh_wire::attribute_t> attributes_;
  bool initialized_ = false;
};

}  // namespace

HRESULT create_soh_constructor(REFIID riid, void** object) {
  return base_n::get_class_factory<soh_constructor_t, &locks>(riid, object);
}

}  // namespace napsdk
