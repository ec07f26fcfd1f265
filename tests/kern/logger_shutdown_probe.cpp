// A separate process for what only a whole process shows: switches read from
// the environment at load, and logging during static destruction after the
// library's own objects are gone (the line must still reach standard error,
// through the fallback logger).
#include <cstdio>
#include <cstring>

#include "kern/fd_logger.h"
#include "kern/logger.h"
#include "kern/syncers.h"

namespace {
struct late_t {
  ~late_t() { KLOG(lvl_error, "[probe] after static destruction"); }
};
// Constructed before the library's logger (priority 102), so destroyed after it.
__attribute__((init_priority(101))) late_t late;
}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "switches") == 0) {
    std::printf("folding=%d writer_first=%d\n", fd_logger_t::repeat_suppression() ? 1 : 0,
                rwlock_t::writer_first() ? 1 : 0);
    std::fflush(stdout);
    return 0;
  }
  KLOG(lvl_error, "[probe] in main");
  return 0;
}
