// Resources of a module chosen by the thread's language, and string-table
// texts on top of them.
#pragma once

#include <string>

#include "platform/resource_section.h"
#include "platform/win32.h"

namespace base_n {

// Resource type ids.
constexpr WORD rt_icon = 3;
constexpr WORD rt_dialog = 5;
constexpr WORD rt_string = 6;
constexpr WORD rt_group_icon = 14;

// The resource of numeric name and type in module (null: the main program),
// in the thread locale's language: the exact language, else the same primary
// language with the neutral sub-language, else the last language-neutral
// entry. Null with the last error set otherwise: 1812 no resource section,
// 1813 no such type, 1814 no such name (or a name given as text), 1815 no
// fitting language, 1804 a malformed directory. Never throws. Same signature
// as the system's FindResource, so it can stand in for it.
template <class C>
HRSRC WINAPI find_resource(HMODULE module, const C* name, const C* type);

// The same walk over a given section, for a given language.
HRSRC find_resource_in(const plat::resource_section_t& section, WORD name, WORD type, LANGID language);

// String id of module's string table in the thread's language; def when the
// string is missing or empty.
std::u16string load_string_resource(UINT id, HMODULE module, const std::u16string& def);

// Entry index (0..15) of a string-table block of size bytes; def when the
// entry is empty or the block ends before it.
std::u16string string_from_block(const BYTE* block, DWORD size, UINT index, const std::u16string& def);

}  // namespace base_n
