// Any bytes as a NAP data record: accepted only as "1 X Y" with non-empty-or-
// empty words free of blanks and line breaks, and then split back exactly.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "shv/nap_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string record(reinterpret_cast<const char*>(data), size);
  std::string client_id, digest;
  if (!shv::check_record(record, client_id, digest)) return 0;
  if (record != "1 " + client_id + " " + digest) std::abort();
  for (const std::string* word : {&client_id, &digest}) {
    if (word->find_first_of(" \r\n") != std::string::npos) std::abort();
  }
  return 0;
}
