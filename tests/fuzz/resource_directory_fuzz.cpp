// Fuzz target: the resource-directory walk and the string-table reader over
// arbitrary bytes. The first four bytes choose name, type and language; the
// rest is the section.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/resources.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  const WORD name = data[0];
  const WORD type = data[1] & 0x0F;
  const LANGID language = static_cast<LANGID>(data[2] | (data[3] << 8));
  std::vector<unsigned char> bytes(data + 4, data + size);  // exact size: overreads show
  plat::resource_section_t section;
  section.root = bytes.data();
  section.size = static_cast<DWORD>(bytes.size());
  section.image_base = bytes.data();
  HRSRC found = base_n::find_resource_in(section, name, type, language);
  if (found != nullptr) {
    IMAGE_RESOURCE_DATA_ENTRY entry;
    std::memcpy(&entry, found, sizeof(entry));
    const unsigned char* p = bytes.data() + entry.OffsetToData;
    volatile unsigned sum = 0;
    for (DWORD i = 0; i < entry.Size; ++i) sum = sum + p[i];  // the data must be inside
    base_n::string_from_block(p, entry.Size, name % 16, u"");
  }
  base_n::string_from_block(bytes.data(), static_cast<DWORD>(bytes.size()), data[0] % 16, u"");
  return 0;
}
