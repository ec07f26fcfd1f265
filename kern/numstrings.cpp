// kern_n::string_to_number: digits, one separator, an optional exponent; every
// failure throws with the whole input quoted.
#include "kern/numstrings.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <type_traits>

#include "kern/exceptions.h"

namespace kern_n {

void detail::raise_number_out_of_range(lstr_t text, bool is_signed, size_t size) {
  const char* type = nullptr;
  char bits[16];
  switch (size) {
    case 1: type = "char"; break;
    case 2: type = "short"; break;
    case 4: type = "int"; break;
    case 8: type = "long long"; break;
    default:
      std::snprintf(bits, sizeof(bits), "%u-bit", static_cast<unsigned>(size * 8));
      type = bits;
  }
  KERN_THROW(number_format_exception, "%ssigned %s number value \"%.*s\" is out of range",
             is_signed ? "" : "un", type, text.ilen(), text.pointer);
}

namespace {

template <class T>
bool mul_add(T& value, unsigned digit) {
  T out;
  if (__builtin_mul_overflow(value, T(10), &out)) return false;
  if (__builtin_add_overflow(out, T(digit), &out)) return false;
  value = out;
  return true;
}

// Whether x, truncated, is a value of T (false for infinity and NaN too).
template <class T>
bool fits(double x) {
  if constexpr (std::is_unsigned_v<T>) {
    return x < 18446744073709551616.0 && !std::isnan(x);  // 2^64
  } else {
    return x < 9223372036854775808.0 && x >= -9223372036854775808.0;  // 2^63
  }
}

// double -> T by truncation, for an x that fits; for unsigned T values from
// 2^63 up keep their magnitude.
template <class T>
T from_double(double x) {
  if constexpr (std::is_unsigned_v<T>) {
    if (x <= 0) return T(0);
    if (x >= 9223372036854775808.0) return static_cast<T>(x);
  }
  return static_cast<T>(static_cast<int64_t>(x));
}

}  // namespace

template <class T>
T string_to_number(lstr_t text, bool allow_sign, bool integer_only) {
  if (text.empty()) KERN_THROW(number_format_exception, "empty string");
  const char* p = text.pointer;
  uint64_t left = text.length;
  bool negative = false;
  if (allow_sign && (*p == '-' || *p == '+')) {
    negative = *p == '-';
    ++p;
    --left;
  }
  T value = 0;
  double fraction = 0;
  double scale = 0.1;
  int32_t exponent = 0;
  bool separator = false;
  bool in_exponent = false;
  bool negative_exponent = false;
  for (int position = 0; left > 0; ++position, ++p, --left) {
    const char c = *p;
    if (!integer_only && !in_exponent && !separator && (c == '.' || c == ',')) {
      separator = true;
      continue;
    }
    if (!integer_only && !in_exponent && (c == 'E' || c == 'e')) {
      in_exponent = true;
      if (left == 1) {
        KERN_THROW(number_format_exception, "no exponent present in string \"%.*s\" after 'E' at position %d",
                   text.ilen(), text.pointer, position);
      }
      if (p[1] == '+' || p[1] == '-') {
        negative_exponent = p[1] == '-';
        ++p;
        --left;
        if (left == 1) {
          KERN_THROW(number_format_exception,
                     "no exponent present in string \"%.*s\" after sign at position %d", text.ilen(),
                     text.pointer, position);
        }
      }
      continue;
    }
    if (c < '0' || c > '9') {
      KERN_THROW(number_format_exception, "illegal char \\x%02x in string \"%.*s\" at position %d",
                 static_cast<unsigned>(static_cast<unsigned char>(c)), text.ilen(), text.pointer,
                 position);
    }
    const unsigned digit = static_cast<unsigned>(c - '0');
    bool fits = true;
    if (in_exponent) {
      fits = mul_add(exponent, digit);
    } else if (separator) {
      fraction += digit * scale;
      scale /= 10;
    } else {
      fits = mul_add(value, digit);
    }
    if (!fits) {
      KERN_THROW(number_format_exception, "integer overflow detected in string \"%.*s\" at position %d",
                 text.ilen(), text.pointer, position);
    }
  }
  if (negative) value = T(0) - value;
  if (!in_exponent) return value;
  if (separator) {
    double x = static_cast<double>(value) + fraction;
    const double power = std::pow(10.0, static_cast<double>(exponent));
    // Zero stays zero: a power past double's range is infinite, and zero
    // times infinity is no number at all.
    if (x != 0) x = negative_exponent ? x / power : x * power;
    if (!fits<T>(x)) {
      KERN_THROW(number_format_exception, "integer overflow detected in string \"%.*s\" at exponent applying",
                 text.ilen(), text.pointer);
    }
    return from_double<T>(x);
  }
  // Integer with exponent: exact in T.
  T power = 1;
  bool power_fits = true;
  for (int32_t i = 0; i < exponent; ++i) {
    if (__builtin_mul_overflow(power, T(10), &power)) {
      power_fits = false;
      break;
    }
  }
  if (negative_exponent) return power_fits ? T(value / power) : T(0);
  T product = 0;
  if (!power_fits ? value != 0 : __builtin_mul_overflow(value, power, &product)) {
    KERN_THROW(number_format_exception, "integer overflow detected in string \"%.*s\" at exponent applying",
               text.ilen(), text.pointer);
  }
  return power_fits ? product : T(0);
}

template uint64_t string_to_number<uint64_t>(lstr_t, bool, bool);

}  // namespace kern_n

uint64_t string_to_uint64(lstr_t text) { return kern_n::string_to_number<uint64_t>(text, false, false); }
