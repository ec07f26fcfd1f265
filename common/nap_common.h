// Helpers both components share around the NAP interfaces: counted strings,
// the registration record, failed HRESULTs as exceptions, the NAP utility
// library binding and the log sink.
#pragma once

#include <exception>
#include <string>

#include "platform/nap_sdk.h"

namespace napcommon {

// Fills an empty counted string with a task-allocated copy of text. E_POINTER
// for a null text or out, E_INVALIDARG when out is not empty, the failure of
// the utility library's AllocCountedString otherwise; out is unchanged on
// every failure.
HRESULT FillCountedString(const WCHAR* text, CountedString* out);
// Frees the characters and leaves cs empty; E_POINTER for null.
HRESULT EmptyCountedString(CountedString* cs);

// The registration record, owning the characters of its four counted strings.
class nap_reginfo_t : public NapComponentRegistrationInfo {
 public:
  nap_reginfo_t();
  ~nap_reginfo_t();
  nap_reginfo_t(const nap_reginfo_t&) = delete;
  nap_reginfo_t& operator=(const nap_reginfo_t&) = delete;
};

// A failed HRESULT and the text of what failed because of it.
class com_error_t : public std::exception {
 public:
  com_error_t(std::string message, HRESULT code) : message_(std::move(message)), code_(code) {}
  ~com_error_t() override = default;
  const char* what() const noexcept override { return message_.c_str(); }
  HRESULT code() const { return code_; }

 private:
  std::string message_;
  HRESULT code_;
};

// Returns for a success code; otherwise throws com_error_t with
// "<what> because of error XXXXXXXX (<system text>)".
void check_res(HRESULT hr, const char* what);

// Makes the module's debugger-output sink the process logger, at level 12.
void init_logger() noexcept;

// Binds Qutil.dll once for the module's life; false when the library or any
// of its five functions is missing.
bool bind_qutil();

// The component's part of its module's entry point at process attach: the
// core library must have its thread slots, the NAP utility library is bound,
// and a crash in the module's own code leaves its description in the log
// (level 0). False refuses the load.
bool attach_component(HMODULE module) noexcept;
// At an unload (never at process exit): gives back what the component took,
// the fault watch, the NAP utility library's binding (the library itself
// stays with the process), the log sink and the core library's slots, locks
// and logger. Late lines go to standard error.
void release_component() noexcept;

namespace detail {
void release_logger() noexcept;
void unbind_qutil() noexcept;
}  // namespace detail

// The bound functions; null until bind_qutil succeeds.
extern alloc_fixup_info_fn AllocFixupInfo;
extern alloc_counted_string_fn AllocCountedString;
extern free_soh_fn FreeSoH;
extern free_isolation_info_fn FreeIsolationInfo;
extern free_soh_attribute_value_fn FreeSoHAttributeValue;

}  // namespace napcommon
