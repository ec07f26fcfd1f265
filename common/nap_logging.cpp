// The components' log sink: every finished line goes to the debugger output.
#include "common/nap_common.h"
#include "kern/lazy.h"
#include "kern/logger.h"

namespace napcommon {

namespace {

class my_log_t : public if_logger_t {
 public:
  int output(const char* text) override {
    std::string line = text;
    line += '\n';
    OutputDebugStringA(line.c_str());
    return static_cast<int>(line.size());
  }
};

// The one sink of this module: made by the first init_logger, given back at
// unload.
kern_n::lazy_t<my_log_t> sink;

}  // namespace

void init_logger() noexcept {
  // The entry point calls this at every notification, one per thread start
  // and end: one sink serves them all instead of a new one each time. The
  // logger it replaces stays (a thread may still be writing through it) until
  // the unload gives it back. Without memory for the sink, that one stays in
  // place.
  try {
    my_log_t& mine = sink.get();
    global_logger = &mine;
    mine.set_level(lvl_debug3);
  } catch (...) {
  }
}

namespace detail {

void release_logger() noexcept {
  if (global_logger == sink.peek()) global_logger = &logger_init_t::simple_instance();
  sink.release();
}

}  // namespace detail

}  // namespace napcommon
