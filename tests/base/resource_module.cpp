// A module that holds resources and reads its own strings through its own
// copy of the library, as a component does for the host that calls it.
#include <algorithm>

#include "base/module_info.h"
#include "base/resources.h"

#define MODULE_EXPORT extern "C" __attribute__((visibility("default")))

MODULE_EXPORT int shvtest_resource_module() { return 1; }

// String id of this module in the calling thread's language, terminated, cut
// to size; returns the full length (0: missing).
MODULE_EXPORT size_t shvtest_own_string(UINT id, char16_t* out, size_t size) {
  const HMODULE self = base_n::module_of_address(reinterpret_cast<const void*>(&shvtest_own_string));
  const std::u16string text = base_n::load_string_resource(id, self, u"");
  if (size > 0) {
    const size_t n = std::min(text.size(), size - 1);
    std::copy_n(text.begin(), n, out);
    out[n] = u'\0';
  }
  return text.size();
}
