// The structured-exception translator. Neither Linux nor mingw-w64 has
// _set_se_translator: the object installs nothing there.
#include "kern/seh_wrapper.h"

namespace kern_n {

seh_translator_t::seh_translator_t() = default;
seh_translator_t::~seh_translator_t() = default;
bool seh_translator_t::installs_translator() { return false; }

}  // namespace kern_n
