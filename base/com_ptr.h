// Owners for what crosses the COM boundary: one reference to a COM object,
// released exactly once on every path.
#pragma once

#include <utility>

#include "platform/com.h"

namespace base_n {

template <class T>
class com_ptr_t {
 public:
  com_ptr_t() = default;
  // Takes over a reference the caller already holds.
  explicit com_ptr_t(T* p) : p_(p) {}
  ~com_ptr_t() { reset(); }
  com_ptr_t(const com_ptr_t&) = delete;
  com_ptr_t& operator=(const com_ptr_t&) = delete;
  com_ptr_t(com_ptr_t&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  com_ptr_t& operator=(com_ptr_t&& other) noexcept {
    if (this != &other) {
      reset();
      p_ = std::exchange(other.p_, nullptr);
    }
    return *this;
  }

  // A new reference to p (AddRef).
  static com_ptr_t add_ref(T* p) {
    if (p != nullptr) p->AddRef();
    return com_ptr_t(p);
  }
  void reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For calls that hand out a reference: releases what is held first.
  T** out() {
    reset();
    return &p_;
  }
  void** out_void() { return reinterpret_cast<void**>(out()); }
  T* detach() { return std::exchange(p_, nullptr); }

 private:
  T* p_ = nullptr;
};

}  // namespace base_n
