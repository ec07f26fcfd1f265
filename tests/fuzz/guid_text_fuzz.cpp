// Fuzz target: GUID text parsing over arbitrary UTF-16; whatever parses must
// print back to the same GUID.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/com.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string text(size / 2, u'\0');
  std::memcpy(text.data(), data, text.size() * 2);
  GUID parsed{};
  if (CLSIDFromString(text.c_str(), &parsed) != S_OK) return 0;
  OLECHAR printed[39];
  if (StringFromGUID2(parsed, printed, 39) != 39) std::abort();
  GUID again{};
  if (CLSIDFromString(printed, &again) != S_OK || !IsEqualGUID(parsed, again)) std::abort();
  return 0;
}
