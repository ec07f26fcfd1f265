// An open registry key, closed when its owner goes: the one small owner every
// user of the raw registry calls shares.
#pragma once

#include "platform/win32.h"

namespace plat {

class reg_key_t {
 public:
  reg_key_t() = default;
  ~reg_key_t() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  reg_key_t(const reg_key_t&) = delete;
  reg_key_t& operator=(const reg_key_t&) = delete;
  // For the calls that hand out a key; the owner must be empty.
  HKEY* out() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace plat
