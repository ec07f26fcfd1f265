// The clause-per-line failure report.
#include "kern/pretty_print.h"

#include <cstring>
#include <string>

#include "kern/logger.h"
#include "kern/strings.h"

namespace {
const char separator[] = " because of ";
constexpr size_t separator_length = sizeof(separator) - 1;
const char indent[] = "  ";
}  // namespace

namespace {

void report(int level, const char* format, const char* arg, const std::exception* e) {
  std::string text;
  if (format != nullptr && arg != nullptr) {
    string_printf(text, format, arg);
  } else if (format != nullptr) {
    text = format;
  } else if (arg != nullptr) {
    text = arg;
  } else if (e != nullptr && e->what() != nullptr) {
    string_printf(text, "General error \"%s\" detected", e->what());
  } else {
    text = "BUG! pretty_print_exception() without any message";
  }
  if (text.empty()) return;

  size_t start = 0;
  bool first = true;
  while (start <= text.size()) {
    const size_t at = text.find(separator, start);
    const bool last = at == std::string::npos;
    const size_t end = last ? text.size() : at;
    // A text that ends in the separator has no empty continuation line.
    const bool followed = !last && at + separator_length < text.size();
    kern_n::log_at(level, "%-.*s%.*s%.*s", first ? 0 : 2, indent, static_cast<int>(end - start),
                   text.data() + start, followed ? static_cast<int>(separator_length) : 0, separator);
    if (last || !followed) break;
    start = at + separator_length;
    first = false;
  }
}

}  // namespace

void pretty_print_exception(int level, const char* format, const char* arg,
                            const std::exception* e) noexcept {
  if (!kern_n::log_enabled(level)) return;
  try {
    report(level, format, arg, e);
  } catch (...) {
    // What was logged stays; the rest of the report is lost.
  }
}
