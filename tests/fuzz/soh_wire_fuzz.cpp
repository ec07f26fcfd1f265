// Any bytes into the SoH codec: accepted input re-encodes to exactly the same
// bytes; everything else is a format_error, never a crash or an over-read.
#include <cstdint>
#include <cstdlib>

#include "platform/soh/soh_wire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    const soh_wire::message_t m = soh_wire::decode_message(data, size);
    const std::vector<uint8_t> again = soh_wire::encode_message(m);
    if (again != std::vector<uint8_t>(data, data + size)) std::abort();
  } catch (const soh_wire::format_error&) {
  }
  try {
    const auto attributes = soh_wire::decode_attributes(data, size);
    if (soh_wire::encode_attributes(attributes) != std::vector<uint8_t>(data, data + size)) std::abort();
  } catch (const soh_wire::format_error&) {
  }
  return 0;
}
