// Binary images of numbers inside strings: the little-endian memory image of each numeric type,
// bit fields, and the dialect's older real layouts.
//
// Packing creates a new temporary; unpacking reads the first bytes of its argument and frees
// nothing (the statement's clean-up does).
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include "runtime/base/error.h"
#include "runtime/strings/str.h"

namespace {

// --- Little-endian images ---------------------------------------------------------------------

// Byte by byte, so that the image does not depend on the host's byte order.
void put_le(uint8_t* to, uint64_t value, int32_t bytes) {
    for (int32_t i = 0; i < bytes; ++i) to[i] = uint8_t(value >> (8 * i));
}

uint64_t get_le(const uint8_t* from, int32_t bytes) {
    uint64_t value = 0;
    for (int32_t i = 0; i < bytes; ++i) value |= uint64_t(from[i]) << (8 * i);
    return value;
}

BasicString* image_of(uint64_t value, int32_t bytes) {
    BasicString* result = str_new(bytes, true);
    put_le(result->chars, value, bytes);
    return result;
}

BasicString* refused_image() {
    error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
    return str_new(0, true);
}

// An image shorter than the type it is read as is an illegal function call.
bool holds(const BasicString* s, int32_t bytes) {
    if (s->length >= bytes) return true;
    error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
    return false;
}

template <typename T> BasicString* pack_integer(T value) {
    return image_of(uint64_t(std::make_unsigned_t<T>(value)), int32_t(sizeof(T)));
}

// The conversion to a narrower or signed type is modular, which is the two's complement
// reading of the image.
template <typename T> T unpack_integer(BasicString* s) {
    constexpr int32_t size = int32_t(sizeof(T));
    return holds(s, size) ? T(get_le(s->chars, size)) : T(0);
}

// --- The 80-bit extended real -----------------------------------------------------------------
//
// The image is the x87 register format: a 64-bit significand with an explicit integer bit in
// bytes 0-7, then sign (bit 15) and a 15-bit exponent biased by 16383 in bytes 8-9, zero-padded
// to 32 bytes. Where `long double` is that format (GCC for x86 Linux and for both mingw-w64
// targets), its first ten bytes are the image. Where it is a plain IEEE double (MSVC-style
// targets), the image is built from the double's bit fields; every double, subnormals included,
// is exactly representable in the wider format, so packing is exact there too and the same value
// gives the same image on every platform. Unpacking on such a target rounds to nearest-even.

constexpr int32_t EXTENDED_BYTES = 10;
constexpr int32_t EXTENDED_IMAGE_BYTES = 32;
constexpr int32_t EXTENDED_BIAS = 16383;
constexpr int32_t DOUBLE_BIAS = 1023;

using LongDoubleLimits = std::numeric_limits<long double>;
constexpr bool LONG_DOUBLE_IS_X87 = LongDoubleLimits::digits == 64 &&
                                    LongDoubleLimits::max_exponent == 16384 &&
                                    sizeof(long double) >= EXTENDED_BYTES;
constexpr bool LONG_DOUBLE_IS_DOUBLE =
    LongDoubleLimits::digits == 53 && LongDoubleLimits::max_exponent == 1024;
static_assert(LONG_DOUBLE_IS_X87 || LONG_DOUBLE_IS_DOUBLE,
              "the extended-real image needs long double to be x87 extended or IEEE double");

struct Extended {
    uint64_t significand = 0; // integer bit at bit 63
    uint16_t sign_exponent = 0;
};

// Used only where long double is a plain double.
[[maybe_unused]] Extended extended_from_double(double value) {
    const uint64_t bits = std::bit_cast<uint64_t>(value);
    const auto sign = uint16_t((bits >> 63) << 15);
    const auto exponent = int32_t(bits >> 52) & 0x7FF;
    const uint64_t fraction = bits & ((uint64_t(1) << 52) - 1);
    constexpr uint64_t integer_bit = uint64_t(1) << 63;
    if (exponent == 0x7FF) {
        // Infinity, or a NaN whose quiet bit and payload move up with the fraction.
        return {integer_bit | fraction << 11, uint16_t(sign | 0x7FFF)};
    }
    if (exponent == 0) {
        if (fraction == 0) return {0, sign};
        // A double subnormal is fraction * 2^-1074; normalised it is an ordinary extended value.
        const int shift = std::countl_zero(fraction);
        const int32_t biased = EXTENDED_BIAS + 63 - 1074 - shift;
        return {fraction << shift, uint16_t(sign | biased)};
    }
    return {integer_bit | fraction << 11,
            uint16_t(sign | (exponent - DOUBLE_BIAS + EXTENDED_BIAS))};
}

// m / 2^drop rounded to nearest, ties to even.
uint64_t shift_round(uint64_t m, int32_t drop) {
    if (drop <= 0) return m;
    if (drop > 64) return 0;
    const uint64_t kept = drop == 64 ? 0 : m >> drop;
    const uint64_t rest = drop == 64 ? m : m & ((uint64_t(1) << drop) - 1);
    const uint64_t half = uint64_t(1) << (drop - 1);
    return kept + (rest > half || (rest == half && (kept & 1)) ? 1 : 0);
}

[[maybe_unused]] double double_from_extended(Extended x) {
    const bool negative = (x.sign_exponent & 0x8000) != 0;
    const int32_t exponent = x.sign_exponent & 0x7FFF;
    double magnitude;
    if (exponent == 0x7FFF) {
        const uint64_t fraction = (x.significand << 1) >> 12; // the 52 bits below the integer bit
        if ((x.significand << 1) == 0) {
            magnitude = std::numeric_limits<double>::infinity();
        } else {
            // A payload held only in the 11 lowest bits would read as infinity: keep it a NaN.
            const uint64_t nan_fraction = fraction != 0 ? fraction : uint64_t(1) << 51;
            magnitude = std::bit_cast<double>(uint64_t(0x7FF) << 52 | nan_fraction);
        }
    } else if (x.significand == 0) {
        magnitude = 0.0;
    } else {
        // Denormals (exponent 0) use the scale of exponent 1; unnormals are normalised too.
        const int shift = std::countl_zero(x.significand);
        const uint64_t m = x.significand << shift;
        const int32_t scale = (exponent == 0 ? 1 : exponent) - EXTENDED_BIAS - 63 - shift;
        const int32_t top = scale + 63; // value lies in [2^top, 2^(top+1))
        // 53 significant bits for a normal double, fewer below 2^-1022.
        const int32_t drop = top >= -1022 ? 11 : 11 + (-1022 - top);
        magnitude = std::ldexp(double(shift_round(m, drop)), scale + drop);
    }
    return negative ? -magnitude : magnitude;
}

Extended extended_from(long double value) {
    if constexpr (LONG_DOUBLE_IS_X87) {
        // x87 exists only on little-endian x86: the object's first ten bytes are the image.
        uint8_t bytes[sizeof(long double)];
        std::memcpy(bytes, &value, sizeof value);
        return {get_le(bytes, 8), uint16_t(get_le(bytes + 8, 2))};
    } else {
        return extended_from_double(double(value));
    }
}

long double long_double_from(Extended x) {
    if constexpr (LONG_DOUBLE_IS_X87) {
        uint8_t bytes[sizeof(long double)] = {};
        put_le(bytes, x.significand, 8);
        put_le(bytes + 8, x.sign_exponent, 2);
        long double value;
        std::memcpy(&value, bytes, sizeof value);
        return value;
    } else {
        return double_from_extended(x);
    }
}

// --- Bit fields -------------------------------------------------------------------------------

bool valid_bit_count(int32_t bits) {
    return bits >= 1 && bits <= 64;
}
int32_t bit_field_bytes(int32_t bits) {
    return (bits + 7) / 8;
}
uint64_t bit_mask(int32_t bits) {
    return bits == 64 ? ~uint64_t(0) : (uint64_t(1) << bits) - 1;
}

// Reads the field, or 0 after raising error 5 when the count or the string is unusable.
uint64_t read_bit_field(int32_t bits, const BasicString* s) {
    if (!valid_bit_count(bits)) {
        error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
        return 0;
    }
    const int32_t bytes = bit_field_bytes(bits);
    return holds(s, bytes) ? get_le(s->chars, bytes) & bit_mask(bits) : 0;
}

// --- The older real layouts -------------------------------------------------------------------
//
// Both hold value = 0.1mmm... (binary) * 2^(E - 128): the exponent byte E comes last, 0 meaning
// zero whatever the other bytes hold; the sign is bit 7 of the byte before it; the mantissa
// with its leading 1 implied fills the bits below, low byte first. There are no infinities,
// NaNs, subnormals or negative zero.
//
// For an IEEE value 1.f * 2^u this makes E = u + 129: IEEE single exponent + 2 in the 4-byte
// form. The 8-byte form keeps that relation (IEEE double exponent - 894) and widens only the
// mantissa, to 55 stored bits, so it covers the same magnitudes, 2^-128 <= |x| < 2^127, with
// more precision than a double: every double in that range is stored exactly (its 52 fraction
// bits shifted up by 3) and reads back unchanged. Larger magnitudes, infinities and NaNs cannot
// be stored: error 5. Smaller magnitudes (double subnormals and IEEE single subnormals below
// 2^-128 among them) are stored as zero: the layout has no subnormals, and an underflow is not
// an error. IEEE single subnormals from 2^-128 up have at most 23 bits and are stored exactly.

constexpr int32_t LEGACY_EXPONENT_OFFSET = 2; // E = IEEE single exponent + 2
constexpr int32_t LEGACY_BIAS = 128;          // value = 0.1m * 2^(E - 128)
constexpr int32_t SINGLE_BIAS = 127;
constexpr int32_t LEGACY_DOUBLE_STORED_BITS = 55;

// The layout's image of sign, exponent byte and stored mantissa bits.
uint64_t legacy_image(bool negative, int32_t exponent, uint64_t mantissa, int32_t stored_bits) {
    return uint64_t(exponent) << (stored_bits + 1) | uint64_t(negative) << stored_bits |
           (mantissa & ((uint64_t(1) << stored_bits) - 1));
}

} // namespace

BasicString* str_pack_i8(int8_t value) {
    return pack_integer(value);
}
BasicString* str_pack_u8(uint8_t value) {
    return pack_integer(value);
}
BasicString* str_pack_i16(int16_t value) {
    return pack_integer(value);
}
BasicString* str_pack_u16(uint16_t value) {
    return pack_integer(value);
}
BasicString* str_pack_i32(int32_t value) {
    return pack_integer(value);
}
BasicString* str_pack_u32(uint32_t value) {
    return pack_integer(value);
}
BasicString* str_pack_i64(int64_t value) {
    return pack_integer(value);
}
BasicString* str_pack_u64(uint64_t value) {
    return pack_integer(value);
}

BasicString* str_pack_f32(float value) {
    return image_of(std::bit_cast<uint32_t>(value), 4);
}
BasicString* str_pack_f64(double value) {
    return image_of(std::bit_cast<uint64_t>(value), 8);
}

BasicString* str_pack_f80(long double value) {
    const Extended x = extended_from(value);
    BasicString* result = str_new(EXTENDED_IMAGE_BYTES, true);
    std::memset(result->chars, 0, EXTENDED_IMAGE_BYTES);
    put_le(result->chars, x.significand, 8);
    put_le(result->chars + 8, x.sign_exponent, 2);
    return result;
}

BasicString* str_pack_bits(int32_t bits, uint64_t value) {
    if (!valid_bit_count(bits)) return refused_image();
    return image_of(value & bit_mask(bits), bit_field_bytes(bits));
}

int8_t str_unpack_i8(BasicString* s) {
    return unpack_integer<int8_t>(s);
}
uint8_t str_unpack_u8(BasicString* s) {
    return unpack_integer<uint8_t>(s);
}
int16_t str_unpack_i16(BasicString* s) {
    return unpack_integer<int16_t>(s);
}
uint16_t str_unpack_u16(BasicString* s) {
    return unpack_integer<uint16_t>(s);
}
int32_t str_unpack_i32(BasicString* s) {
    return unpack_integer<int32_t>(s);
}
uint32_t str_unpack_u32(BasicString* s) {
    return unpack_integer<uint32_t>(s);
}
int64_t str_unpack_i64(BasicString* s) {
    return unpack_integer<int64_t>(s);
}
uint64_t str_unpack_u64(BasicString* s) {
    return unpack_integer<uint64_t>(s);
}

float str_unpack_f32(BasicString* s) {
    return holds(s, 4) ? std::bit_cast<float>(uint32_t(get_le(s->chars, 4))) : 0.0f;
}

double str_unpack_f64(BasicString* s) {
    return holds(s, 8) ? std::bit_cast<double>(get_le(s->chars, 8)) : 0.0;
}

// The whole 32-byte image is the type's size, as packing makes it.
long double str_unpack_f80(BasicString* s) {
    if (!holds(s, EXTENDED_IMAGE_BYTES)) return 0.0L;
    return long_double_from({get_le(s->chars, 8), uint16_t(get_le(s->chars + 8, 2))});
}

int64_t str_unpack_bits_signed(int32_t bits, BasicString* s) {
    const uint64_t field = read_bit_field(bits, s);
    if (!valid_bit_count(bits)) return 0;
    const uint64_t sign = uint64_t(1) << (bits - 1);
    // (field ^ sign) - sign spreads the top bit of the field over the bits above it.
    return int64_t((field ^ sign) - sign);
}

uint64_t str_unpack_bits_unsigned(int32_t bits, BasicString* s) {
    return read_bit_field(bits, s);
}

BasicString* str_pack_legacy_single(float value) {
    const uint32_t bits = std::bit_cast<uint32_t>(value);
    const bool negative = (bits >> 31) != 0;
    const auto ieee_exponent = int32_t(bits >> 23) & 0xFF;
    uint32_t mantissa = bits & 0x7FFFFF;
    int32_t exponent = ieee_exponent + LEGACY_EXPONENT_OFFSET;
    if (exponent > 255) return refused_image(); // 2^127 and above, infinities, NaNs
    if (ieee_exponent == 0) {
        if (mantissa == 0) return image_of(0, 4);
        // Subnormal mantissa * 2^-149: bring its top bit up to the implied bit's place.
        const int shift = std::countl_zero(mantissa) - 8;
        mantissa <<= shift;
        exponent = 1 + LEGACY_EXPONENT_OFFSET - shift;
        if (exponent < 1) return image_of(0, 4); // below 2^-128
    }
    return image_of(legacy_image(negative, exponent, mantissa, 23), 4);
}

BasicString* str_pack_legacy_double(double value) {
    const uint64_t bits = std::bit_cast<uint64_t>(value);
    const bool negative = (bits >> 63) != 0;
    const auto ieee_exponent = int32_t(bits >> 52) & 0x7FF;
    const uint64_t fraction = bits & ((uint64_t(1) << 52) - 1);
    if (ieee_exponent == 0x7FF) return refused_image();
    const int32_t exponent = ieee_exponent - DOUBLE_BIAS + SINGLE_BIAS + LEGACY_EXPONENT_OFFSET;
    if (exponent > 255) return refused_image();
    // Zero, double subnormals and everything else below 2^-128.
    if (ieee_exponent == 0 || exponent < 1) return image_of(0, 8);
    return image_of(legacy_image(negative, exponent, fraction << (LEGACY_DOUBLE_STORED_BITS - 52),
                                 LEGACY_DOUBLE_STORED_BITS),
                    8);
}

// Every value of the 4-byte layout is a double exactly; the conversion to float is exact except
// for the two lowest exponents, which become rounded float subnormals. No value fails.
float str_unpack_legacy_single(BasicString* s) {
    if (!holds(s, 4)) return 0.0f;
    const auto image = uint32_t(get_le(s->chars, 4));
    const auto exponent = int32_t(image >> 24);
    if (exponent == 0) return 0.0f;
    const double magnitude =
        std::ldexp(double(0x800000 | (image & 0x7FFFFF)), exponent - LEGACY_BIAS - 24);
    const auto result = float(magnitude);
    return (image & 0x800000) != 0 ? -result : result;
}

// The 56-bit mantissa is rounded to a double's 53 bits (nearest, ties to even); the exponent
// range always fits.
double str_unpack_legacy_double(BasicString* s) {
    if (!holds(s, 8)) return 0.0;
    const uint64_t image = get_le(s->chars, 8);
    const auto exponent = int32_t(image >> 56);
    if (exponent == 0) return 0.0;
    constexpr uint64_t implied = uint64_t(1) << LEGACY_DOUBLE_STORED_BITS;
    const uint64_t mantissa = implied | (image & (implied - 1));
    const double magnitude =
        std::ldexp(double(mantissa), exponent - LEGACY_BIAS - (LEGACY_DOUBLE_STORED_BITS + 1));
    return (image & implied) != 0 ? -magnitude : magnitude;
}
