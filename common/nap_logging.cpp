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

}  // namespace

void init_logger() {
  // Earlier sinks are kept: a thread may still be writing through one.
  auto* sink = new my_log_t;
  global_logger = sink;
  sink->set_level(lvl_debug3);
}

}  // namespace napcommon
