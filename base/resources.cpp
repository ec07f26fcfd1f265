// The resource-directory walk and the string-table loader.
#include "base/resources.h"

namespace base_n {

namespace {

// A failed lookup: the error code, and null.
HRSRC fail(DWORD code) {
  SetLastError(code);
  return nullptr;
}

// The directory at offset from the root, its entries bounded by the section;
// null when it does not fit.
const IMAGE_RESOURCE_DIRECTORY* directory_at(const plat::resource_section_t& s, DWORD offset, DWORD& count) {
  if (offset > s.size || s.size - offset < sizeof(IMAGE_RESOURCE_DIRECTORY)) return nullptr;
  const auto* dir = reinterpret_cast<const IMAGE_RESOURCE_DIRECTORY*>(s.root + offset);
  count = static_cast<DWORD>(dir->NumberOfNamedEntries) + dir->NumberOfIdEntries;
  const DWORD room = (s.size - offset - sizeof(IMAGE_RESOURCE_DIRECTORY)) / sizeof(IMAGE_RESOURCE_DIRECTORY_ENTRY);
  if (count > room) return nullptr;
  return dir;
}

const IMAGE_RESOURCE_DIRECTORY_ENTRY* entries_of(const IMAGE_RESOURCE_DIRECTORY* dir) {
  return reinterpret_cast<const IMAGE_RESOURCE_DIRECTORY_ENTRY*>(dir + 1);
}

// The entry with numeric id among the directory's entries, or null.
const IMAGE_RESOURCE_DIRECTORY_ENTRY* find_id(const IMAGE_RESOURCE_DIRECTORY* dir, DWORD count, WORD id) {
  const IMAGE_RESOURCE_DIRECTORY_ENTRY* e = entries_of(dir);
  for (DWORD i = 0; i < count; ++i) {
    if ((e[i].Name & IMAGE_RESOURCE_NAME_IS_STRING) == 0 && e[i].Name == id) return &e[i];
  }
  return nullptr;
}

bool is_directory(const IMAGE_RESOURCE_DIRECTORY_ENTRY* e) {
  return (e->OffsetToData & IMAGE_RESOURCE_DATA_IS_DIRECTORY) != 0;
}

DWORD offset_of(const IMAGE_RESOURCE_DIRECTORY_ENTRY* e) {
  return e->OffsetToData & ~IMAGE_RESOURCE_DATA_IS_DIRECTORY;
}

// Language order: exact, then primary language with the neutral
// sub-language, then the last entry of the neutral primary language.
const IMAGE_RESOURCE_DIRECTORY_ENTRY* choose_language(const IMAGE_RESOURCE_DIRECTORY* dir, DWORD count,
                                                      LANGID language) {
  const IMAGE_RESOURCE_DIRECTORY_ENTRY* e = entries_of(dir);
  const IMAGE_RESOURCE_DIRECTORY_ENTRY* primary = nullptr;
  const IMAGE_RESOURCE_DIRECTORY_ENTRY* neutral = nullptr;
  for (DWORD i = 0; i < count; ++i) {
    if (e[i].Name & IMAGE_RESOURCE_NAME_IS_STRING) continue;
    const DWORD id = e[i].Name;
    if (id == language) return &e[i];
    if (primary == nullptr && id <= 0x3FF && id == PRIMARYLANGID(language)) primary = &e[i];
    if ((id & 0x3FF) == 0) neutral = &e[i];
  }
  return primary != nullptr ? primary : neutral;
}

WORD resource_id(const void* p) {
  return static_cast<WORD>(reinterpret_cast<uintptr_t>(p));
}

}  // namespace

HRSRC find_resource_in(const plat::resource_section_t& s, WORD name, WORD type, LANGID language) {
  DWORD count = 0;
  const IMAGE_RESOURCE_DIRECTORY* root = s.root != nullptr ? directory_at(s, 0, count) : nullptr;
  if (root == nullptr) return fail(s.root == nullptr ? ERROR_RESOURCE_DATA_NOT_FOUND : ERROR_INVALID_DATATYPE);

  const IMAGE_RESOURCE_DIRECTORY_ENTRY* e = find_id(root, count, type);
  if (e == nullptr) return fail(ERROR_RESOURCE_TYPE_NOT_FOUND);
  if (!is_directory(e)) return fail(ERROR_INVALID_DATATYPE);
  const IMAGE_RESOURCE_DIRECTORY* names = directory_at(s, offset_of(e), count);
  if (names == nullptr) return fail(ERROR_INVALID_DATATYPE);

  e = find_id(names, count, name);
  if (e == nullptr) return fail(ERROR_RESOURCE_NAME_NOT_FOUND);
  if (!is_directory(e)) return fail(ERROR_INVALID_DATATYPE);
  const IMAGE_RESOURCE_DIRECTORY* languages = directory_at(s, offset_of(e), count);
  if (languages == nullptr) return fail(ERROR_INVALID_DATATYPE);

  e = choose_language(languages, count, language);
  if (e == nullptr) return fail(ERROR_RESOURCE_LANG_NOT_FOUND);
  if (is_directory(e)) return fail(ERROR_INVALID_DATATYPE);
  const DWORD offset = offset_of(e);
  if (offset > s.size || s.size - offset < sizeof(IMAGE_RESOURCE_DATA_ENTRY)) return fail(ERROR_INVALID_DATATYPE);
  const auto* data = reinterpret_cast<const IMAGE_RESOURCE_DATA_ENTRY*>(s.root + offset);
  // The data itself must lie inside the section, too (offsets counted from
  // the image base, which may lie below the section).
  const uintptr_t section_start = static_cast<uintptr_t>(s.root - s.image_base);
  if (data->OffsetToData < section_start || data->OffsetToData - section_start > s.size ||
      data->Size > s.size - (data->OffsetToData - section_start)) {
    return fail(ERROR_INVALID_DATATYPE);
  }
  return reinterpret_cast<HRSRC>(const_cast<IMAGE_RESOURCE_DATA_ENTRY*>(data));
}

template <class C>
HRSRC WINAPI find_resource(HMODULE module, const C* name, const C* type) {
  if (!IS_INTRESOURCE(type)) return fail(ERROR_RESOURCE_TYPE_NOT_FOUND);
  if (!IS_INTRESOURCE(name)) return fail(ERROR_RESOURCE_NAME_NOT_FOUND);
  plat::resource_section_t section;
  if (!plat::find_resource_section(module, section)) return fail(ERROR_RESOURCE_DATA_NOT_FOUND);
  return find_resource_in(section, resource_id(name), resource_id(type), LANGIDFROMLCID(GetThreadLocale()));
}

template HRSRC WINAPI find_resource<char>(HMODULE, const char*, const char*);
template HRSRC WINAPI find_resource<WCHAR>(HMODULE, const WCHAR*, const WCHAR*);

std::u16string load_string_resource(UINT id, HMODULE module, const std::u16string& def) {
  const UINT block = id / 16 + 1;
  if (block > 0xFFFF) return def;
  HRSRC resource = find_resource<char>(module, MAKEINTRESOURCEA(block), MAKEINTRESOURCEA(rt_string));
  if (resource == nullptr) return def;
  HGLOBAL loaded = LoadResource(module, resource);
  const auto* p = static_cast<const BYTE*>(loaded != nullptr ? LockResource(loaded) : nullptr);
  if (p == nullptr) return def;
  return string_from_block(p, SizeofResource(module, resource), id % 16, def);
}

std::u16string string_from_block(const BYTE* p, DWORD size, UINT index, const std::u16string& def) {
  if (p == nullptr) return def;
  // Counted strings, read in bytes: the block need not be aligned.
  auto word_at = [p](DWORD pos) { return static_cast<WORD>(p[pos] | (p[pos + 1] << 8)); };
  DWORD pos = 0;
  for (UINT skip = index; skip > 0; --skip) {
    if (size - pos < 2) return def;
    const DWORD length = word_at(pos);
    pos += 2;
    if (size - pos < 2 * length) return def;
    pos += 2 * length;
  }
  if (size - pos < 2) return def;
  const DWORD length = word_at(pos);
  pos += 2;
  if (length == 0 || size - pos < 2 * length) return def;
  std::u16string text(length, u'\0');
  for (DWORD i = 0; i < length; ++i) text[i] = static_cast<char16_t>(word_at(pos + 2 * i));
  return text;
}

}  // namespace base_n
