// The calling thread's COM apartment for a scope: joined on construction,
// left on destruction when joining succeeded (a thread already in another
// apartment keeps it).
#pragma once

#include "platform/com.h"

namespace base_n {

class com_apartment_t {
 public:
  // model: COINIT_MULTITHREADED or COINIT_APARTMENTTHREADED.
  explicit com_apartment_t(DWORD model) : result_(CoInitializeEx(nullptr, model)) {}
  ~com_apartment_t() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  com_apartment_t(const com_apartment_t&) = delete;
  com_apartment_t& operator=(const com_apartment_t&) = delete;
  HRESULT result() const { return result_; }

 private:
  HRESULT result_;
};

}  // namespace base_n
