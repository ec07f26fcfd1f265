// Any bytes from a central server, in any pieces: the client never crashes,
// answers only with well-formed lines, and never holds more than its input
// limit without a line end.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "shv/nap_validator.h"

namespace {
class fuzz_validator_t : public nap_validator_t {
 public:
  fuzz_validator_t() : nap_validator_t("127.0.0.1", 2193, "client", "digest") {}
  void send(std::string&& data) override {
    // Every unit the client sends ends in a line end and starts with a number.
    if (data.empty() || data.back() != '\n' || data[0] < '0' || data[0] > '9') std::abort();
  }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_validator_t v;
  // The first byte chooses how the rest is cut into receives.
  const size_t piece = size == 0 ? 1 : 1 + data[0] % 64;
  for (size_t at = size == 0 ? 0 : 1; at < size; at += piece) {
    const size_t n = size - at < piece ? size - at : piece;
    if (!v.on_recv_bytes(reinterpret_cast<const char*>(data) + at, n)) break;
  }
  return 0;
}
