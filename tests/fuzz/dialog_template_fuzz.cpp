// Fuzzes the dialog template reader: any bytes are either refused with a
// reason or read into a description, never read beyond their size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/linux/dialog/dialog_template.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A copy of exactly size bytes, so that any read beyond is caught.
  const std::vector<unsigned char> bytes(data, data + size);
  plat::dialog_desc_t d;
  std::string reason;
  const bool ok = plat::parse_dialog_template(bytes.data(), bytes.size(), d, reason);
  if (ok == reason.empty()) return 0;
  if (ok) std::abort();  // a success carries no reason
  if (!d.items.empty() || !d.title.empty()) std::abort();  // a refusal leaves the output alone
  return 0;
}
