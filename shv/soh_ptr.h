// Owners of NAP SDK records handed out to the validator: an SoH (freed with the
// utility library's FreeSoH) and an attribute value (FreeSoHAttributeValue).
#pragma once

#include <utility>

#include "common/nap_common.h"
#include "platform/nap_sdk.h"

namespace shv {

class soh_ptr_t {
 public:
  soh_ptr_t() = default;
  ~soh_ptr_t() { reset(); }
  soh_ptr_t(const soh_ptr_t&) = delete;
  soh_ptr_t& operator=(const soh_ptr_t&) = delete;
  void reset() {
    if (SoH* p = std::exchange(p_, nullptr)) napcommon::FreeSoH(p);
  }
  SoH** out() {
    reset();
    return &p_;
  }
  SoH* get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  SoH* p_ = nullptr;
};

class soh_value_ptr_t {
 public:
  soh_value_ptr_t() = default;
  ~soh_value_ptr_t() { reset(); }
  soh_value_ptr_t(const soh_value_ptr_t&) = delete;
  soh_value_ptr_t& operator=(const soh_value_ptr_t&) = delete;
  void reset() {
    if (SoHAttributeValue* p = std::exchange(p_, nullptr)) napcommon::FreeSoHAttributeValue(type_, p);
  }
  // The type is needed to free the value: GetAttribute writes both.
  SoHAttributeType* type_out() { return &type_; }
  SoHAttributeValue** out() {
    reset();
    return &p_;
  }
  SoHAttributeType type() const { return type_; }
  SoHAttributeValue* get() const { return p_; }
  SoHAttributeValue* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  SoHAttributeType type_ = sohAttributeTypeVendorSpecific;
  SoHAttributeValue* p_ = nullptr;
};

}  // namespace shv
