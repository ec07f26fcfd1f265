// Conversion between UTF-16 text and code-page text.
#pragma once

#include <cstdint>
#include <string>

// Throws BUG_exception_shell_t "UNICODE to cp%d conversion failed because of %s".
void from_unicode_to_cp(std::string& out, const std::u16string& in, unsigned code_page);
// The same into the default ANSI code page (0).
void from_unicode_to_cp(std::string& out, const std::u16string& in);
std::string to_narrow(const std::u16string& in);

// length == UINT64_MAX: text is NUL-terminated and measured first. Throws
// BUG_exception_shell_t "cp%d to UNICODE conversion failed because of %s".
void from_cp_to_unicode(std::u16string& out, const char* text, unsigned code_page,
                        uint64_t length = UINT64_MAX);
std::u16string to_wide(const std::string& in);
