// UTF-16 text is char16_t in portable code; Win32 spells it wchar_t. These casts
// are the only place where the two meet.
#pragma once

#include <string>

namespace plat {

#ifdef _WIN32
static_assert(sizeof(wchar_t) == sizeof(char16_t));
inline const wchar_t* wstr(const char16_t* p) { return reinterpret_cast<const wchar_t*>(p); }
inline wchar_t* wstr(char16_t* p) { return reinterpret_cast<wchar_t*>(p); }
inline const char16_t* u16(const wchar_t* p) { return reinterpret_cast<const char16_t*>(p); }
inline char16_t* u16(wchar_t* p) { return reinterpret_cast<char16_t*>(p); }
#else
inline const char16_t* wstr(const char16_t* p) { return p; }
inline char16_t* wstr(char16_t* p) { return p; }
inline const char16_t* u16(const char16_t* p) { return p; }
inline char16_t* u16(char16_t* p) { return p; }
#endif

}  // namespace plat
