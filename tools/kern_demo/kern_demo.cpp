// Shows the core library at work: log lines with their prefix and folding, an
// exception's reason chain, error texts and number parsing.
#include <cstdio>

#include "kern/exceptions.h"
#include "kern/error_text.h"
#include "kern/logger.h"
#include "kern/numstrings.h"
#include "kern/pretty_print.h"
#include "kern/quote_utils.h"
#include "kern/runnable.h"
#include "kern/syncers.h"

int main() {
  global_logger->set_level(lvl_debug3);
  KLOG(lvl_info, "[demo] the core library logs like this");
  for (int i = 0; i < 3; ++i) KLOG(lvl_info, "[demo] a repeated line");
  KLOG(lvl_notice, "[demo] a different line ends the run of repeats");

  try {
    mutex_t m;
    m.unlock();  // not owned: the system refuses
  } catch (const sync_exception_shell_t& e) {
    pretty_print_exception(lvl_error, nullptr, nullptr, &e);
  }

  for (const char* text : {"65535", "6.5535E4", "-1", "18446744073709551616"}) {
    try {
      KLOG(lvl_info, "[demo] string_to_uint64(\"%s\") = %llu", text,
           static_cast<unsigned long long>(string_to_uint64(text)));
    } catch (const number_format_exception_shell_t& e) {
      KLOG(lvl_info, "[demo] string_to_uint64(\"%s\") failed: %s", text, e.what());
    }
  }

  std::string quoted;
  const char bytes[] = "a b,c, d\r\n%";
  quote_string(bytes, sizeof(bytes) - 1, quoted);
  KLOG(lvl_info, "[demo] quote_string: %s", quoted.c_str());
  KLOG(lvl_info, "[demo] error 5: %s", format_system_error(5).c_str());

  thr::proc::helper<void (*)()> named([] { KLOG(lvl_info, "[demo] inside a library thread"); });
  named.set_name("demo:1");
  named();
  return 0;
}
