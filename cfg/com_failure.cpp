// COM-boundary failure reports, in the order the components catch them.
#include "cfg/com_failure.h"

#include <new>
#include <string>

#include "common/nap_common.h"
#include "kern/exceptions.h"
#include "kern/logger.h"
#include "kern/pretty_print.h"
#include "kern/runnable.h"

namespace shv_cfg {

HRESULT com_failure(const char* method) noexcept {
  HRESULT hr = E_FAIL;
  try {
    throw;
  } catch (const napcommon::com_error_t& e) {
    hr = e.code();
  } catch (const BUG_exception_shell_t&) {
    hr = E_INVALIDARG;
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  } catch (...) {
  }
  try {
    const std::string why = kern_n::describe_current_exception();
    const std::string text = std::string(method) + " failed because of " + why;
    pretty_print_exception(lvl_error, "%s", text.c_str(), nullptr);
  } catch (...) {
    // No memory left even for the report: the HRESULT says enough.
  }
  return hr;
}

}  // namespace shv_cfg
