// Any bytes into string_to_uint64: either a value or the library's number
// exception, never another exception or a crash; plain digit strings agree
// with strtoull.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "kern/exceptions.h"
#include "kern/numstrings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  bool digits_only = !text.empty() && text.size() < 40;
  for (char c : text) digits_only = digits_only && c >= '0' && c <= '9';
  try {
    const uint64_t value = string_to_uint64(lstr_t(text.data(), text.size()));
    if (digits_only) {
      errno = 0;
      const unsigned long long expected = std::strtoull(text.c_str(), nullptr, 10);
      if (errno == ERANGE || expected != value) std::abort();
    }
  } catch (const number_format_exception_shell_t& e) {
    if (e.what() == nullptr || *e.what() == '\0') std::abort();
    if (digits_only) {
      errno = 0;
      std::strtoull(text.c_str(), nullptr, 10);
      if (errno != ERANGE) std::abort();  // only overflow may reject plain digits
    }
  }
  return 0;
}
