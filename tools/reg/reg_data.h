// Value data of the reg tool: command-line text to registry bytes (add) and
// registry bytes to reg.exe's display text (query).
#pragma once

#include <string>

#include "platform/win32.h"

namespace reg_tool {

// Throws usage_error_t for data that the type cannot hold (a number that is
// not one or exceeds 32 bits, hex that is not pairs of hex digits, an empty
// string inside a multi-string list). separator 0 means the two characters
// "\0" separate multi-string items.
std::string encode_data(const std::string& type, const std::string& text, char separator);

DWORD type_of_name(const std::string& type);
std::string type_name(DWORD type);
std::string display_data(DWORD type, const std::string& bytes);

}  // namespace reg_tool
