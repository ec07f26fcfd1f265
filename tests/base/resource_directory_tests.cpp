// The directory walk over hand-made sections, well formed and malformed: it
// reports the error and never reads outside the section.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/resources.h"

namespace {

// A little-endian section written field by field.
class section_builder_t {
 public:
  size_t directory(std::initializer_list<std::pair<uint32_t, uint32_t>> entries, uint16_t named = 0) {
    const size_t at = bytes.size();
    put32(0);
    put32(0);
    put16(0);
    put16(0);
    put16(named);
    put16(static_cast<uint16_t>(entries.size() - named));
    for (auto [name, offset] : entries) {
      put32(name);
      put32(offset);
    }
    return at;
  }
  size_t data_entry(uint32_t offset, uint32_t size) {
    const size_t at = bytes.size();
    put32(offset);
    put32(size);
    put32(0);
    put32(0);
    return at;
  }
  void put16(uint16_t v) {
    bytes.push_back(static_cast<unsigned char>(v));
    bytes.push_back(static_cast<unsigned char>(v >> 8));
  }
  void put32(uint32_t v) {
    put16(static_cast<uint16_t>(v));
    put16(static_cast<uint16_t>(v >> 16));
  }
  void patch32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<unsigned char>(v >> (8 * i));
  }
  plat::resource_section_t section() const {
    plat::resource_section_t s;
    s.root = bytes.data();
    s.size = static_cast<DWORD>(bytes.size());
    s.image_base = bytes.data();
    return s;
  }
  std::vector<unsigned char> bytes;
};

constexpr uint32_t dir = IMAGE_RESOURCE_DATA_IS_DIRECTORY;

// type 6 -> name 1 -> the given languages, each with four bytes of data
// holding its language id.
struct sample_t {
  section_builder_t b;
  size_t lang_dir = 0;
  explicit sample_t(std::vector<uint16_t> languages) {
    b.directory({{6, dir | 24}});                      // root at 0, 24 bytes
    b.directory({{1, dir | 48}});                      // names at 24, 24 bytes
    lang_dir = b.bytes.size();                          // languages at 48
    const size_t entries = 48 + 16 + 8 * languages.size();
    b.put32(0);
    b.put32(0);
    b.put16(0);
    b.put16(0);
    b.put16(0);
    b.put16(static_cast<uint16_t>(languages.size()));
    for (size_t i = 0; i < languages.size(); ++i) {
      b.put32(languages[i]);
      b.put32(static_cast<uint32_t>(entries + 16 * i));
    }
    const size_t data = entries + 16 * languages.size();
    for (size_t i = 0; i < languages.size(); ++i) b.data_entry(static_cast<uint32_t>(data + 4 * i), 4);
    for (uint16_t l : languages) b.put32(l);
  }
  // The language whose data the lookup found, or -1 with the error in err.
  long find(LANGID language, DWORD& err) const {
    SetLastError(0);
    HRSRC r = base_n::find_resource_in(b.section(), 1, 6, language);
    err = GetLastError();
    if (r == nullptr) return -1;
    const auto* e = reinterpret_cast<const IMAGE_RESOURCE_DATA_ENTRY*>(r);
    uint32_t v;
    std::memcpy(&v, b.bytes.data() + e->OffsetToData, 4);
    return v;
  }
};

TEST(resource_directory, language_order) {
  DWORD err = 0;
  EXPECT_EQ(sample_t({0x0000, 0x0409}).find(0x0419, err), 0x0000);  // neutral
  EXPECT_EQ(sample_t({0x0000, 0x0409}).find(0x0409, err), 0x0409);  // exact
  EXPECT_EQ(sample_t({0x0007, 0x0407}).find(0x0C07, err), 0x0007);  // primary, neutral sub-language
  EXPECT_EQ(sample_t({0x0000, 0x0407, 0x0007}).find(0x0407, err), 0x0407);
  EXPECT_EQ(sample_t({0x0000, 0x0007}).find(0x0C07, err), 0x0007);  // primary before neutral
  EXPECT_EQ(sample_t({0x0407, 0x0000}).find(0x0C07, err), 0x0000);  // another sub-language does not count
  EXPECT_EQ(sample_t({0x0000, 0x0400, 0x0800}).find(0x0409, err), 0x0800);  // the last neutral
  EXPECT_EQ(sample_t({0x0404}).find(0x0804, err), -1);
  EXPECT_EQ(err, static_cast<DWORD>(ERROR_RESOURCE_LANG_NOT_FOUND));
  EXPECT_EQ(sample_t({}).find(0x0409, err), -1);
  EXPECT_EQ(err, static_cast<DWORD>(ERROR_RESOURCE_LANG_NOT_FOUND));
}

TEST(resource_directory, named_entries_are_not_ids) {
  section_builder_t b;
  // A named type entry whose name offset happens to equal 6 with the name bit.
  b.directory({{IMAGE_RESOURCE_NAME_IS_STRING | 6, dir | 24}}, 1);
  b.directory({{1, 0}});
  SetLastError(0);
  EXPECT_EQ(base_n::find_resource_in(b.section(), 1, 6, 0x0409), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
}

TEST(resource_directory, missing_type_and_name) {
  sample_t s({0x0409});
  SetLastError(0);
  EXPECT_EQ(base_n::find_resource_in(s.b.section(), 1, 5, 0x0409), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
  EXPECT_EQ(base_n::find_resource_in(s.b.section(), 2, 6, 0x0409), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  plat::resource_section_t none;
  EXPECT_EQ(base_n::find_resource_in(none, 1, 6, 0x0409), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
}

TEST(resource_directory, leaf_and_directory_mix_ups_are_invalid) {
  DWORD err = 0;
  sample_t type_leaf({0x0409});
  type_leaf.b.patch32(16 + 4, 24);  // the type entry loses its directory bit
  EXPECT_EQ(type_leaf.find(0x0409, err), -1);
  EXPECT_EQ(err, static_cast<DWORD>(ERROR_INVALID_DATATYPE));
  sample_t name_leaf({0x0409});
  name_leaf.b.patch32(24 + 16 + 4, 48);
  EXPECT_EQ(name_leaf.find(0x0409, err), -1);
  EXPECT_EQ(err, static_cast<DWORD>(ERROR_INVALID_DATATYPE));
  sample_t language_dir({0x0409});
  language_dir.b.patch32(48 + 16 + 4, dir | 48);  // a language entry pointing at a directory
  EXPECT_EQ(language_dir.find(0x0409, err), -1);
  EXPECT_EQ(err, static_cast<DWORD>(ERROR_INVALID_DATATYPE));
}

TEST(resource_directory, offsets_and_counts_outside_the_section_are_invalid) {
  DWORD err = 0;
  {
    sample_t s({0x0409});
    s.b.patch32(16 + 4, dir | 0x7FFFFFF0);  // names far beyond the end
    EXPECT_EQ(s.find(0x0409, err), -1);
    EXPECT_EQ(err, static_cast<DWORD>(ERROR_INVALID_DATATYPE));
  }
  {
    sample_t s({0x0409});
    s.b.bytes[14] = 0xFF;  // the root claims 255 id entries
    EXPECT_EQ(s.find(0x0409, err), -1);
    EXPECT_EQ(err, static_cast<DWORD>(ERROR_INVALID_DATATYPE));
  }
  {
    sample_t s({0x0409});
    s.b.patch32(48 + 16 + 4, static_cast<uint32_t>(s.b.bytes.size() - 8));  // data entry cut off
    EXPECT_EQ(s.find(0x0409, err), -1);
    EXPECT_EQ(err, static_cast<DWORD>(ERROR_INVALID_DATATYPE));
  }
  {
    sample_t s({0x0409});
    s.b.patch32(48 + 16 + 8, static_cast<uint32_t>(s.b.bytes.size()));  // data starts at the end ...
    EXPECT_EQ(s.find(0x0409, err), -1);  // ... and has 4 bytes
    EXPECT_EQ(err, static_cast<DWORD>(ERROR_INVALID_DATATYPE));
  }
  {
    sample_t s({0x0409});
    s.b.patch32(48 + 16 + 8 + 4, 0xFFFFFFFF);  // data size wraps
    EXPECT_EQ(s.find(0x0409, err), -1);
    EXPECT_EQ(err, static_cast<DWORD>(ERROR_INVALID_DATATYPE));
  }
  {
    // Every truncation of a good section fails cleanly.
    sample_t s({0x0000, 0x0409});
    for (size_t n = 0; n < s.b.bytes.size(); ++n) {
      plat::resource_section_t cut = s.b.section();
      cut.size = static_cast<DWORD>(n);
      EXPECT_EQ(base_n::find_resource_in(cut, 1, 6, 0x0409), nullptr) << n;
    }
    plat::resource_section_t whole = s.b.section();
    EXPECT_NE(base_n::find_resource_in(whole, 1, 6, 0x0409), nullptr);
  }
}

// A string-table block: sixteen counted strings.
std::vector<unsigned char> block(std::initializer_list<std::u16string> texts) {
  std::vector<unsigned char> out;
  for (const std::u16string& t : texts) {
    out.push_back(static_cast<unsigned char>(t.size()));
    out.push_back(static_cast<unsigned char>(t.size() >> 8));
    for (char16_t c : t) {
      out.push_back(static_cast<unsigned char>(c));
      out.push_back(static_cast<unsigned char>(c >> 8));
    }
  }
  return out;
}

TEST(string_block, entries_are_found_by_index) {
  const auto b = block({u"zero", u"", u"two", u"Größe"});
  const DWORD size = static_cast<DWORD>(b.size());
  EXPECT_EQ(base_n::string_from_block(b.data(), size, 0, u"d"), u"zero");
  EXPECT_EQ(base_n::string_from_block(b.data(), size, 1, u"d"), u"d");  // empty entry
  EXPECT_EQ(base_n::string_from_block(b.data(), size, 2, u"d"), u"two");
  EXPECT_EQ(base_n::string_from_block(b.data(), size, 3, u"d"), u"Größe");
  EXPECT_EQ(base_n::string_from_block(b.data(), size, 4, u"d"), u"d");  // past the block
  EXPECT_EQ(base_n::string_from_block(b.data(), size, 15, u"d"), u"d");
  EXPECT_EQ(base_n::string_from_block(nullptr, 0, 0, u"d"), u"d");
}

TEST(string_block, a_truncated_block_never_reads_past_its_end) {
  const auto b = block({u"zero", u"one", u"two"});
  for (DWORD n = 0; n < b.size(); ++n) {
    // Copy into an exact-size buffer so that the sanitizer sees any overread.
    std::vector<unsigned char> cut(b.begin(), b.begin() + n);
    const unsigned char* p = cut.empty() ? nullptr : cut.data();
    for (UINT index = 0; index < 4; ++index) {
      const std::u16string got = base_n::string_from_block(p, n, index, u"d");
      const bool whole = (index == 0 && n >= 10) || (index == 1 && n >= 18) || (index == 2 && n >= 26);
      EXPECT_EQ(got != u"d", whole) << "size " << n << " index " << index;
    }
  }
  // A length that claims more than the block holds.
  std::vector<unsigned char> liar = {0xFF, 0xFF, 'a', 0};
  EXPECT_EQ(base_n::string_from_block(liar.data(), 4, 0, u"d"), u"d");
  EXPECT_EQ(base_n::string_from_block(liar.data(), 4, 1, u"d"), u"d");
}

}  // namespace
