// Small string helpers: formatting into a growing string, releasing a string's
// storage, decimal appenders.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

// Formats into dest (replacing it), starting in 1 KiB and growing; never
// throws: over-long or unformattable messages are replaced by fixed texts.
void string_vprintf(std::string& dest, const char* format, va_list args) noexcept;
void string_printf(std::string& dest, const char* format, ...) noexcept
    __attribute__((format(printf, 2, 3)));
std::string string_format(const char* format, ...) __attribute__((format(printf, 1, 2)));

namespace kern_n {
// Empties the string and releases its storage.
void clear_string(std::string& s) noexcept;

void append_decimal(std::string& out, int64_t value);
void append_decimal(std::string& out, uint64_t value);
inline void append_decimal(std::string& out, int32_t value) { append_decimal(out, int64_t{value}); }
inline void append_decimal(std::string& out, uint32_t value) { append_decimal(out, uint64_t{value}); }
inline void append_decimal(std::string& out, int16_t value) { append_decimal(out, int64_t{value}); }
inline void append_decimal(std::string& out, uint16_t value) { append_decimal(out, uint64_t{value}); }
}  // namespace kern_n
