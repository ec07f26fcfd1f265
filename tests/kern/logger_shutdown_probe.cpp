// Logs during static construction, in main, and during static destruction
// after the library's own objects are gone: the last line must still reach
// standard error, through the fallback logger.
#include "kern/logger.h"

namespace {
struct late_t {
  ~late_t() { KLOG(lvl_error, "[probe] after static destruction"); }
};
// Constructed before the library's statics, so destroyed after them.
__attribute__((init_priority(101))) late_t late;
}  // namespace

int main() {
  KLOG(lvl_error, "[probe] in main");
  return 0;
}
