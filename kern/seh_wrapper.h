// Translation of processor faults (structured exceptions) into SEH_exception
// shells, per thread. Only a compiler with structured exceptions and
// _set_se_translator has anything to install; elsewhere the object is empty,
// so that code and handlers read the same on every platform.
#pragma once

namespace kern_n {

class seh_translator_t {
 public:
  seh_translator_t();
  ~seh_translator_t();
  seh_translator_t(const seh_translator_t&) = delete;
  seh_translator_t& operator=(const seh_translator_t&) = delete;
  // Whether this build translates structured exceptions at all.
  static bool installs_translator();
};

}  // namespace kern_n
