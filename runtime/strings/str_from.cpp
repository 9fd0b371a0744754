// Number to text. The digits of a real come from std::to_chars, which rounds the exact binary
// value correctly (halfway cases to even) and is the same code in every build of the standard
// library we ship with; the C library's printf is not used because its exponent widths and its
// rounding differ between the Windows and Linux run-time libraries.
#include "runtime/strings/str_from.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

// Writes v in decimal, most significant digit first, and returns the end.
char* put_unsigned(char* out, uint64_t v) {
    char reversed[20];
    int32_t n = 0;
    do {
        reversed[n++] = char('0' + v % 10);
        v /= 10;
    } while (v != 0);
    while (n > 0) *out++ = reversed[--n];
    return out;
}

BasicString* temporary_of(const char* text, int32_t length) {
    BasicString* s = str_new(length, true);
    std::memcpy(s->chars, text, size_t(length));
    return s;
}

// A magnitude rounded to a number of significant digits: digit[0] is the first (non-zero
// unless the value is zero), the value is 0.d0 d1 d2... times ten to the (exponent + 1).
struct Rounded {
    char digit[18] = {};
    int32_t exponent = 0;
};

// Rounds a non-negative finite magnitude correctly to `precision` significant digits
// (1 to 17). Zero gives all "0" digits and exponent 0.
Rounded round_to(double magnitude, int32_t precision) {
    char text[40];
    const auto end = std::to_chars(text, text + sizeof text, magnitude,
                                   std::chars_format::scientific, precision - 1)
                         .ptr;
    // "d.ddd...e+XX": one digit, the point and precision - 1 digits, then the exponent with
    // its sign and at least two digits.
    Rounded r;
    const char* p = text;
    int32_t n = 0;
    r.digit[n++] = *p++;
    if (*p == '.') ++p;
    while (*p != 'e') r.digit[n++] = *p++;
    ++p;
    const bool negative_exponent = *p++ == '-';
    int32_t e = 0;
    while (p < end) e = e * 10 + (*p++ - '0');
    r.exponent = negative_exponent ? -e : e;
    return r;
}

// The layout common to both precisions. `count` significant digits of `r` (the rest are
// zeros); fixed notation while the exponent is at most `fixed_top` and the last significant
// digit lies no more than `fixed_depth` places below it, the exponent form otherwise.
int32_t lay_out(bool negative, const Rounded& r, int32_t count, int32_t fixed_top,
                int32_t fixed_depth, char letter, char* out) {
    char* p = out;
    *p++ = negative ? '-' : ' ';
    const int32_t e = r.exponent;
    if (e <= fixed_top && e - count >= -fixed_depth) {
        if (e >= 0) {
            // Integer part: the digits up to the units, zeros where the digits run out.
            for (int32_t i = 0; i <= e; ++i) *p++ = i < count ? r.digit[i] : '0';
            if (count > e + 1) {
                *p++ = '.';
                for (int32_t i = e + 1; i < count; ++i) *p++ = r.digit[i];
            }
        } else {
            // Below 1: no "0" before the point.
            *p++ = '.';
            for (int32_t i = -1; i > e; --i) *p++ = '0';
            for (int32_t i = 0; i < count; ++i) *p++ = r.digit[i];
        }
        return int32_t(p - out);
    }
    *p++ = r.digit[0];
    if (count > 1) {
        *p++ = '.';
        for (int32_t i = 1; i < count; ++i) *p++ = r.digit[i];
    }
    *p++ = letter;
    *p++ = e < 0 ? '-' : '+';
    const int32_t magnitude = e < 0 ? -e : e;
    if (magnitude > 99) *p++ = char('0' + magnitude / 100);
    *p++ = char('0' + magnitude / 10 % 10);
    *p++ = char('0' + magnitude % 10);
    return int32_t(p - out);
}

int32_t significant(const Rounded& r, int32_t precision) {
    int32_t count = precision;
    while (count > 0 && r.digit[count - 1] == '0') --count;
    return count;
}

// Infinities, not-a-number and zero; returns 0 for every other value.
int32_t special(double x, char* out) {
    const char* text = nullptr;
    if (std::isnan(x))
        text = " NAN";
    else if (std::isinf(x))
        text = x < 0 ? "-INF" : " INF";
    else if (x == 0)
        text = " 0";
    else
        return 0;
    const int32_t length = int32_t(std::strlen(text));
    std::memcpy(out, text, size_t(length));
    return length;
}

} // namespace

// --- Integers ----------------------------------------------------------------------------------

int32_t str_format_int64(int64_t v, char* out) {
    out[0] = v < 0 ? '-' : ' ';
    // The magnitude in unsigned arithmetic, so that the most negative value has one too.
    const uint64_t magnitude = v < 0 ? 0 - uint64_t(v) : uint64_t(v);
    return int32_t(put_unsigned(out + 1, magnitude) - out);
}

int32_t str_format_uint64(uint64_t v, char* out) {
    out[0] = ' ';
    return int32_t(put_unsigned(out + 1, v) - out);
}

BasicString* str_from_int64(int64_t v) {
    char text[STR_FROM_MAX_TEXT];
    return temporary_of(text, str_format_int64(v, text));
}
BasicString* str_from_int32(int32_t v) {
    return str_from_int64(v);
}
BasicString* str_from_int16(int16_t v) {
    return str_from_int64(v);
}
BasicString* str_from_int8(int8_t v) {
    return str_from_int64(v);
}

BasicString* str_from_uint64(uint64_t v) {
    char text[STR_FROM_MAX_TEXT];
    return temporary_of(text, str_format_uint64(v, text));
}
BasicString* str_from_uint32(uint32_t v) {
    return str_from_uint64(v);
}
BasicString* str_from_uint16(uint16_t v) {
    return str_from_uint64(v);
}
BasicString* str_from_uint8(uint8_t v) {
    return str_from_uint64(v);
}

// --- Reals -------------------------------------------------------------------------------------

// Seven significant digits of the value widened to a double; fixed notation up to exponent 6
// and down to 8 places below it.
int32_t str_format_single(float x, char* out) {
    const double wide = x;
    if (const int32_t length = special(wide, out)) return length;
    const Rounded r = round_to(std::fabs(wide), 7);
    return lay_out(std::signbit(wide), r, significant(r, 7), 6, 8, 'E', out);
}

// Sixteen significant digits, or fifteen when the sixteenth would be 9: the last binary digit
// of a double often surfaces as a run of nines that the value was never meant to have
// (0.1 + 0.2), and fifteen digits round it away. Fixed notation up to exponent 15 and down to 17
// places below it.
int32_t str_format_double(double x, char* out) {
    if (const int32_t length = special(x, out)) return length;
    const double magnitude = std::fabs(x);
    Rounded r = round_to(magnitude, 16);
    if (r.digit[15] == '9') {
        r = round_to(magnitude, 15);
        r.digit[15] = '0';
    }
    return lay_out(std::signbit(x), r, significant(r, 16), 15, 17, 'D', out);
}

BasicString* str_from_single(float x) {
    char text[STR_FROM_MAX_TEXT];
    return temporary_of(text, str_format_single(x, text));
}

BasicString* str_from_double(double x) {
    char text[STR_FROM_MAX_TEXT];
    return temporary_of(text, str_format_double(x, text));
}

BasicString* str_from_extended(long double x) {
    return str_from_double(double(x));
}
