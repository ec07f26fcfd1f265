// Strict text-to-number conversion with the library's error texts.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kern/types.h"

namespace kern_n {

namespace detail {
// Throws number_format_exception_shell_t: "<un>signed <type> number value
// "<text>" is out of range".
[[noreturn]] void raise_number_out_of_range(lstr_t text, bool is_signed, size_t size);
}  // namespace detail

// Parses text as a decimal number with an optional separator ("." or ",") and
// exponent; see numstrings.cpp for the exact rules. Throws
// number_format_exception_shell_t.
template <class T>
T string_to_number(lstr_t text, bool allow_sign, bool integer_only);

extern template uint64_t string_to_number<uint64_t>(lstr_t, bool, bool);

}  // namespace kern_n

uint64_t string_to_uint64(lstr_t text);
