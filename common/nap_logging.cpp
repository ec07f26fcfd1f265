// The components' log sink: every finished line goes to the debugger output.
#include "common/nap_common.h"
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

// The logger the sink replaced, kept: a thread may still be writing through it.
if_logger_t* replaced_logger = nullptr;

}  // namespace

void init_logger() {
  // The entry point calls this at every notification, one per thread start
  // and end: one sink serves them all instead of a new one each time.
  static my_log_t* const sink = new my_log_t;
  if (global_logger != sink) {
    replaced_logger = global_logger;
    global_logger = sink;
  }
  sink->set_level(lvl_debug3);
}

}  // namespace napcommon
