// Arbitrary bytes as one printable word without blanks, for log lines.
#pragma once

#include <cstddef>
#include <string>

// Appends the quoted form of data to out: "%Z" for empty input, "%M" for ", ",
// "%L" for CR LF, "%S" for a blank, "%P" for "%", "%xx" for control and
// non-ASCII bytes, every other byte as it is.
void quote_string(const void* data, size_t length, std::string& out);
