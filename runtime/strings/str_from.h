#pragma once
// The dialect's texts for numbers.
//
// Every text has a sign position in front: a space for zero and positive values, "-" for
// negative ones (unsigned integers always get the space). Reals show no trailing zeros and no
// "0" before the point; moderate magnitudes use fixed notation, others an exponent form whose
// letter tells single ("E") from double ("D") precision, with two exponent digits up to 99 and
// three beyond. Singles show at most 7 significant digits. Doubles show 16, except that a value
// whose sixteenth digit would be 9 is shown rounded to 15.
//
// Texts never depend on the host's C library: the digits come from a correctly rounded
// conversion (halfway cases round to even), so Windows and Linux builds agree byte for byte.
//
// Values the dialect cannot write as numbers get texts of their own, with the same sign
// position: " INF" and "-INF" for the infinities, " NAN" for every not-a-number (its sign bit
// carries no meaning and differs between processors, so it is not shown). Zero and negative
// zero both give " 0".
#include <cstdint>

#include "runtime/strings/str.h"

// Each returns a new temporary holding exactly the text.
BasicString* str_from_int64(int64_t v);
BasicString* str_from_int32(int32_t v);
BasicString* str_from_int16(int16_t v);
BasicString* str_from_int8(int8_t v);
BasicString* str_from_uint64(uint64_t v);
BasicString* str_from_uint32(uint32_t v);
BasicString* str_from_uint16(uint16_t v);
BasicString* str_from_uint8(uint8_t v);
BasicString* str_from_single(float x);
BasicString* str_from_double(double x);
// Narrowed to a double first (round to nearest), so huge values become infinities.
BasicString* str_from_extended(long double x);

// The same texts written into a caller's buffer, without the string engine; each returns the
// number of characters (no terminating zero). The buffer must hold STR_FROM_MAX_TEXT bytes.
inline constexpr int32_t STR_FROM_MAX_TEXT = 32;
int32_t str_format_int64(int64_t v, char* out);
int32_t str_format_uint64(uint64_t v, char* out);
int32_t str_format_single(float x, char* out);
int32_t str_format_double(double x, char* out);
