#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "runtime/base/error.h"
#include "strings/str_fixture.h"

namespace {

class StrPackTest : public StrEngineTest {
  protected:
    void TearDown() override {
        str_cleanup(1, 0);
        EXPECT_EQ(str_temp_mark(), 1);
        StrEngineTest::TearDown();
    }

    static std::vector<uint8_t> bytes(const BasicString* s) {
        return std::vector<uint8_t>(s->chars, s->chars + s->length);
    }
    // A packed result is a new plain temporary of the given size.
    static std::vector<uint8_t> packed(const BasicString* s, int32_t size) {
        EXPECT_TRUE(str_is_plain_temporary(s));
        EXPECT_EQ(s->length, size);
        return bytes(s);
    }
    static BasicString* image(const std::vector<uint8_t>& b) {
        return temporary(std::string(b.begin(), b.end()));
    }
    static uint32_t error_code() { return run_state.error_code.load(); }
    static void expect_error_5_and_clear() {
        EXPECT_EQ(run_state.error_code.load(), ERROR_ILLEGAL_FUNCTION_CALL);
        run_state_reset();
    }
};

using str_pack_integer = StrPackTest;
using str_pack_real = StrPackTest;
using str_pack_extended = StrPackTest;
using str_pack_bits_ = StrPackTest;
using str_unpack_short = StrPackTest;
using str_legacy_single = StrPackTest;
using str_legacy_double = StrPackTest;

using Bytes = std::vector<uint8_t>;

// --- Integers -----------------------------------------------------------------------------------

TEST_F(str_pack_integer, known_little_endian_images) {
    EXPECT_EQ(packed(str_pack_i8(-2), 1), (Bytes{0xFE}));
    EXPECT_EQ(packed(str_pack_u8(200), 1), (Bytes{0xC8}));
    EXPECT_EQ(packed(str_pack_i16(-2), 2), (Bytes{0xFE, 0xFF}));
    EXPECT_EQ(packed(str_pack_u16(0x1234), 2), (Bytes{0x34, 0x12}));
    EXPECT_EQ(packed(str_pack_i32(-2), 4), (Bytes{0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(packed(str_pack_u32(0x12345678), 4), (Bytes{0x78, 0x56, 0x34, 0x12}));
    EXPECT_EQ(packed(str_pack_i64(INT64_MIN), 8), (Bytes{0, 0, 0, 0, 0, 0, 0, 0x80}));
    EXPECT_EQ(packed(str_pack_u64(0x0102030405060708), 8), (Bytes{8, 7, 6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(error_code(), 0u);
}

template <typename T>
void expect_integer_round_trips(BasicString* (*pack)(T), T (*unpack)(BasicString*)) {
    using L = std::numeric_limits<T>;
    for (T value : {L::min(), L::max(), T(0), T(1), T(L::max() / 3), T(L::min() + 1)}) {
        BasicString* s = pack(value);
        ASSERT_EQ(s->length, int32_t(sizeof(T)));
        EXPECT_EQ(unpack(s), value);
        EXPECT_TRUE(str_is_plain_temporary(s)); // unpacking frees nothing
    }
}

TEST_F(str_pack_integer, extremes_round_trip) {
    expect_integer_round_trips(str_pack_i8, str_unpack_i8);
    expect_integer_round_trips(str_pack_u8, str_unpack_u8);
    expect_integer_round_trips(str_pack_i16, str_unpack_i16);
    expect_integer_round_trips(str_pack_u16, str_unpack_u16);
    expect_integer_round_trips(str_pack_i32, str_unpack_i32);
    expect_integer_round_trips(str_pack_u32, str_unpack_u32);
    expect_integer_round_trips(str_pack_i64, str_unpack_i64);
    expect_integer_round_trips(str_pack_u64, str_unpack_u64);
    EXPECT_EQ(error_code(), 0u);
}

TEST_F(str_pack_integer, unpack_reads_only_the_first_bytes) {
    BasicString* s = image({0xFF, 0x7F, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0x11, 0x22});
    EXPECT_EQ(str_unpack_i8(s), -1);
    EXPECT_EQ(str_unpack_u8(s), 0xFF);
    EXPECT_EQ(str_unpack_i16(s), 0x7FFF);
    EXPECT_EQ(str_unpack_u32(s), 0xBBAA7FFFu);
    EXPECT_EQ(str_unpack_i32(image({0, 0, 0, 0x80, 1})), INT32_MIN);
    EXPECT_EQ(str_unpack_u64(s), 0x11EEDDCCBBAA7FFFull);
    EXPECT_EQ(str_unpack_i64(image({0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})), -2);
    EXPECT_EQ(str_unpack_u16(image({0xFE, 0xFF})), 0xFFFE);
    EXPECT_EQ(s->length, 9);
    EXPECT_EQ(error_code(), 0u);
}

// --- IEEE reals ---------------------------------------------------------------------------------

TEST_F(str_pack_real, known_images) {
    EXPECT_EQ(packed(str_pack_f32(1.0f), 4), (Bytes{0, 0, 0x80, 0x3F}));
    EXPECT_EQ(packed(str_pack_f32(-2.5f), 4), (Bytes{0, 0, 0x20, 0xC0}));
    EXPECT_EQ(packed(str_pack_f64(1.0), 8), (Bytes{0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
    EXPECT_EQ(packed(str_pack_f64(-0.0), 8), (Bytes{0, 0, 0, 0, 0, 0, 0, 0x80}));
}

TEST_F(str_pack_real, extremes_and_nan_bit_patterns_round_trip) {
    using F = std::numeric_limits<float>;
    using D = std::numeric_limits<double>;
    // Quiet NaNs with payloads and both signs, as 32-bit and 64-bit patterns.
    for (uint32_t bits : {0x7FC00000u, 0xFFC00000u, 0x7FC12345u, 0xFFFFFFFFu, 0x00000001u,
                          0x7F7FFFFFu, 0x80000000u, 0x7F800000u, 0xFF800000u}) {
        BasicString* s = str_pack_f32(std::bit_cast<float>(bits));
        EXPECT_EQ(std::bit_cast<uint32_t>(str_unpack_f32(s)), bits) << std::hex << bits;
    }
    for (uint64_t bits : {0x7FF8000000000000ull, 0xFFF8000000000001ull, 0x7FFABCDEF0123456ull,
                          0x0000000000000001ull, 0x7FEFFFFFFFFFFFFFull, 0x8000000000000000ull,
                          0xFFF0000000000000ull}) {
        BasicString* s = str_pack_f64(std::bit_cast<double>(bits));
        EXPECT_EQ(std::bit_cast<uint64_t>(str_unpack_f64(s)), bits) << std::hex << bits;
    }
    for (float value : {F::min(), F::max(), F::lowest(), F::denorm_min(), F::epsilon()})
        EXPECT_EQ(str_unpack_f32(str_pack_f32(value)), value);
    for (double value : {D::min(), D::max(), D::lowest(), D::denorm_min(), D::epsilon()})
        EXPECT_EQ(str_unpack_f64(str_pack_f64(value)), value);
    EXPECT_EQ(error_code(), 0u);
}

// --- The extended real --------------------------------------------------------------------------

// The 32-byte image of an extended real: significand, then sign and exponent, then zeros.
Bytes extended_image(uint64_t significand, uint16_t sign_exponent) {
    Bytes b(32, 0);
    for (int i = 0; i < 8; ++i) b[size_t(i)] = uint8_t(significand >> (8 * i));
    b[8] = uint8_t(sign_exponent);
    b[9] = uint8_t(sign_exponent >> 8);
    return b;
}

TEST_F(str_pack_extended, images_of_values_every_platform_can_hold) {
    using D = std::numeric_limits<double>;
    const uint64_t one = 0x8000000000000000ull;
    EXPECT_EQ(packed(str_pack_f80(1.0L), 32), extended_image(one, 0x3FFF));
    EXPECT_EQ(packed(str_pack_f80(-2.0L), 32), extended_image(one, 0xC000));
    EXPECT_EQ(packed(str_pack_f80(0.0L), 32), extended_image(0, 0));
    EXPECT_EQ(packed(str_pack_f80(-0.0L), 32), extended_image(0, 0x8000));
    EXPECT_EQ(packed(str_pack_f80(0.75L), 32), extended_image(0xC000000000000000ull, 0x3FFE));
    EXPECT_EQ(packed(str_pack_f80(D::infinity()), 32), extended_image(one, 0x7FFF));
    EXPECT_EQ(packed(str_pack_f80(-D::infinity()), 32), extended_image(one, 0xFFFF));
    // The double extremes: normalised into the wider exponent range.
    EXPECT_EQ(packed(str_pack_f80(D::denorm_min()), 32), extended_image(one, 0x3BCD));
    EXPECT_EQ(packed(str_pack_f80(D::min()), 32), extended_image(one, 0x3C01));
    EXPECT_EQ(packed(str_pack_f80(D::max()), 32), extended_image(0xFFFFFFFFFFFFF800ull, 0x43FE));
    EXPECT_EQ(packed(str_pack_f80(std::ldexp(3.0, -1074)), 32),
              extended_image(0xC000000000000000ull, 0x3BCE));
    // A quiet NaN's payload follows the fraction up by eleven bits.
    EXPECT_EQ(packed(str_pack_f80(std::bit_cast<double>(0xFFF8000000000123ull)), 32),
              extended_image(0xC000000000091800ull, 0xFFFF));
}

TEST_F(str_pack_extended, round_trips) {
    using D = std::numeric_limits<double>;
    using L = std::numeric_limits<long double>;
    for (long double value : {1.0L, -1.0L, 0.0L, -0.0L, L::max(), L::lowest(), L::min(),
                              L::denorm_min(), L::infinity(), -L::infinity(), 1.0L + L::epsilon(),
                              (long double)D::denorm_min(), (long double)D::max(), 1.0L / 3.0L}) {
        long double back = str_unpack_f80(str_pack_f80(value));
        EXPECT_EQ(back, value);
        EXPECT_EQ(std::signbit(back), std::signbit(value));
    }
    BasicString* nan = str_pack_f80(L::quiet_NaN());
    long double back = str_unpack_f80(nan);
    EXPECT_TRUE(std::isnan(back));
    EXPECT_EQ(bytes(str_pack_f80(back)), bytes(nan)); // the NaN's bits survive
    EXPECT_EQ(error_code(), 0u);
}

TEST_F(str_pack_extended, full_x87_precision_and_range_where_long_double_has_it) {
    if (std::numeric_limits<long double>::digits != 64)
        GTEST_SKIP() << "long double is not the x87 extended format here";
    using L = std::numeric_limits<long double>;
    EXPECT_EQ(bytes(str_pack_f80(1.0L + L::epsilon())),
              extended_image(0x8000000000000001ull, 0x3FFF));
    EXPECT_EQ(bytes(str_pack_f80(L::max())), extended_image(~0ull, 0x7FFE));
    EXPECT_EQ(bytes(str_pack_f80(L::denorm_min())), extended_image(1, 0));
    // A NaN payload in the lowest bits, which a double could not hold.
    BasicString* s = image(extended_image(0xC000000000000001ull, 0x7FFF));
    EXPECT_EQ(bytes(str_pack_f80(str_unpack_f80(s))), bytes(s));
}

TEST_F(str_pack_extended, unpack_needs_the_whole_32_byte_image) {
    Bytes b = extended_image(0x8000000000000000ull, 0x3FFF);
    EXPECT_EQ(str_unpack_f80(image(b)), 1.0L);
    b.pop_back();
    EXPECT_EQ(str_unpack_f80(image(b)), 0.0L);
    expect_error_5_and_clear();
}

// --- Bit fields ---------------------------------------------------------------------------------

TEST_F(str_pack_bits_, sizes_and_masking) {
    EXPECT_EQ(packed(str_pack_bits(1, 3), 1), (Bytes{1}));
    EXPECT_EQ(packed(str_pack_bits(8, 0x1FF), 1), (Bytes{0xFF}));
    EXPECT_EQ(packed(str_pack_bits(9, ~0ull), 2), (Bytes{0xFF, 0x01}));
    EXPECT_EQ(packed(str_pack_bits(12, 0xABCD), 2), (Bytes{0xCD, 0x0B}));
    EXPECT_EQ(packed(str_pack_bits(33, ~0ull), 5), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x01}));
    EXPECT_EQ(packed(str_pack_bits(64, 0x8000000000000001ull), 8),
              (Bytes{1, 0, 0, 0, 0, 0, 0, 0x80}));
    EXPECT_EQ(error_code(), 0u);
}

TEST_F(str_pack_bits_, every_width_round_trips_signed_and_unsigned) {
    for (int32_t bits = 1; bits <= 64; ++bits) {
        SCOPED_TRACE(bits);
        const uint64_t mask = bits == 64 ? ~0ull : (1ull << bits) - 1;
        const uint64_t top = 1ull << (bits - 1);
        BasicString* all = str_pack_bits(bits, ~0ull);
        ASSERT_EQ(all->length, (bits + 7) / 8);
        EXPECT_EQ(str_unpack_bits_unsigned(bits, all), mask);
        EXPECT_EQ(str_unpack_bits_signed(bits, all), -1);
        BasicString* lowest = str_pack_bits(bits, top);
        EXPECT_EQ(str_unpack_bits_signed(bits, lowest), bits == 64 ? INT64_MIN : -int64_t(top));
        BasicString* highest = str_pack_bits(bits, top - 1);
        EXPECT_EQ(str_unpack_bits_signed(bits, highest), int64_t(top - 1));
        // Negative values wrap into the field and come back.
        BasicString* minus_one = str_pack_bits(bits, uint64_t(int64_t(-1)));
        EXPECT_EQ(str_unpack_bits_signed(bits, minus_one), -1);
        str_cleanup(1, 0);
    }
    EXPECT_EQ(str_unpack_bits_signed(3, str_pack_bits(3, uint64_t(int64_t(-3)))), -3);
    EXPECT_EQ(error_code(), 0u);
}

TEST_F(str_pack_bits_, unpack_ignores_bits_above_the_field) {
    BasicString* s = image({0xF7, 0xFF});
    EXPECT_EQ(str_unpack_bits_unsigned(4, s), 7u);
    EXPECT_EQ(str_unpack_bits_signed(4, s), 7);
    EXPECT_EQ(str_unpack_bits_signed(4, image({0x08})), -8);
    EXPECT_EQ(str_unpack_bits_unsigned(9, s), 0x1F7u);
    EXPECT_EQ(str_unpack_bits_signed(9, s), int64_t(0x1F7) - 512);
    EXPECT_EQ(error_code(), 0u);
}

TEST_F(str_pack_bits_, widths_outside_1_to_64_raise_error_5) {
    for (int32_t bits : {0, 65, -1, INT32_MIN, INT32_MAX}) {
        SCOPED_TRACE(bits);
        BasicString* s = str_pack_bits(bits, 5);
        EXPECT_TRUE(str_is_plain_temporary(s));
        EXPECT_EQ(s->length, 0);
        expect_error_5_and_clear();
        BasicString* eight = image(Bytes(8, 0xFF));
        EXPECT_EQ(str_unpack_bits_signed(bits, eight), 0);
        expect_error_5_and_clear();
        EXPECT_EQ(str_unpack_bits_unsigned(bits, eight), 0u);
        expect_error_5_and_clear();
    }
}

// --- Too short an image -------------------------------------------------------------------------

TEST_F(str_unpack_short, raises_error_5_and_gives_0) {
    struct Reader {
        const char* name;
        int32_t size;
        double (*read)(BasicString*);
    };
    const Reader readers[] = {
        {"i8", 1, [](BasicString* s) { return double(str_unpack_i8(s)); }},
        {"u8", 1, [](BasicString* s) { return double(str_unpack_u8(s)); }},
        {"i16", 2, [](BasicString* s) { return double(str_unpack_i16(s)); }},
        {"u16", 2, [](BasicString* s) { return double(str_unpack_u16(s)); }},
        {"i32", 4, [](BasicString* s) { return double(str_unpack_i32(s)); }},
        {"u32", 4, [](BasicString* s) { return double(str_unpack_u32(s)); }},
        {"i64", 8, [](BasicString* s) { return double(str_unpack_i64(s)); }},
        {"u64", 8, [](BasicString* s) { return double(str_unpack_u64(s)); }},
        {"f32", 4, [](BasicString* s) { return double(str_unpack_f32(s)); }},
        {"f64", 8, [](BasicString* s) { return str_unpack_f64(s); }},
        {"f80", 32, [](BasicString* s) { return double(str_unpack_f80(s)); }},
        {"bits 12", 2, [](BasicString* s) { return double(str_unpack_bits_signed(12, s)); }},
        {"bits 57", 8, [](BasicString* s) { return double(str_unpack_bits_unsigned(57, s)); }},
        {"legacy single", 4, [](BasicString* s) { return double(str_unpack_legacy_single(s)); }},
        {"legacy double", 8, [](BasicString* s) { return str_unpack_legacy_double(s); }},
    };
    for (const Reader& r : readers) {
        SCOPED_TRACE(r.name);
        // 0x41 everywhere: a non-zero value for every type once the image is long enough.
        BasicString* whole = image(Bytes(size_t(r.size), 0x41));
        EXPECT_NE(r.read(whole), 0.0);
        EXPECT_EQ(error_code(), 0u);
        BasicString* short_one = image(Bytes(size_t(r.size - 1), 0x41));
        EXPECT_EQ(r.read(short_one), 0.0);
        expect_error_5_and_clear();
        EXPECT_EQ(r.read(str_new_cstring(nullptr)), 0.0);
        expect_error_5_and_clear();
        EXPECT_TRUE(str_is_plain_temporary(short_one)); // not freed by the failed read
    }
}

// --- The older 4-byte real layout ---------------------------------------------------------------

TEST_F(str_legacy_single, known_images) {
    EXPECT_EQ(packed(str_pack_legacy_single(1.0f), 4), (Bytes{0, 0, 0, 0x81}));
    EXPECT_EQ(packed(str_pack_legacy_single(-1.0f), 4), (Bytes{0, 0, 0x80, 0x81}));
    EXPECT_EQ(packed(str_pack_legacy_single(0.5f), 4), (Bytes{0, 0, 0, 0x80}));
    EXPECT_EQ(packed(str_pack_legacy_single(1.5f), 4), (Bytes{0, 0, 0x40, 0x81}));
    EXPECT_EQ(packed(str_pack_legacy_single(10.0f), 4), (Bytes{0, 0, 0x20, 0x84}));
    // 0.1f is 0x3DCCCCCD: low mantissa bytes kept, exponent 0x7B + 2.
    EXPECT_EQ(packed(str_pack_legacy_single(0.1f), 4), (Bytes{0xCD, 0xCC, 0x4C, 0x7D}));
    EXPECT_EQ(packed(str_pack_legacy_single(0.0f), 4), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(packed(str_pack_legacy_single(-0.0f), 4), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(error_code(), 0u);
}

TEST_F(str_legacy_single, decodes_known_images) {
    EXPECT_EQ(str_unpack_legacy_single(image({0, 0, 0, 0x81})), 1.0f);
    EXPECT_EQ(str_unpack_legacy_single(image({0, 0, 0xA0, 0x83})), -5.0f);
    EXPECT_EQ(str_unpack_legacy_single(image({0xFF, 0xFF, 0xFF, 0x00})), 0.0f);
    // The largest value: just below 2^127, the float with IEEE exponent 253.
    EXPECT_EQ(str_unpack_legacy_single(image({0xFF, 0xFF, 0x7F, 0xFF})),
              std::nextafter(std::ldexp(1.0f, 127), 0.0f));
    EXPECT_EQ(error_code(), 0u);
}

TEST_F(str_legacy_single, range_limits) {
    using F = std::numeric_limits<float>;
    const float two_127 = std::ldexp(1.0f, 127);
    for (float value :
         {two_127, -two_127, F::max(), F::infinity(), -F::infinity(), F::quiet_NaN()}) {
        BasicString* s = str_pack_legacy_single(value);
        EXPECT_TRUE(str_is_plain_temporary(s));
        EXPECT_EQ(s->length, 0) << value;
        expect_error_5_and_clear();
    }
    const float below = std::nextafter(two_127, 0.0f);
    EXPECT_EQ(bytes(str_pack_legacy_single(below)), (Bytes{0xFF, 0xFF, 0x7F, 0xFF}));
    EXPECT_EQ(bytes(str_pack_legacy_single(std::ldexp(1.0f, -126))), (Bytes{0, 0, 0, 3}));
    // Subnormals from 2^-128 up are held exactly; smaller ones underflow to zero.
    EXPECT_EQ(bytes(str_pack_legacy_single(std::ldexp(1.0f, -127))), (Bytes{0, 0, 0, 2}));
    EXPECT_EQ(bytes(str_pack_legacy_single(-std::ldexp(1.0f, -128))), (Bytes{0, 0, 0x80, 1}));
    EXPECT_EQ(bytes(str_pack_legacy_single(std::ldexp(3.0f, -129))), (Bytes{0, 0, 0x40, 1}));
    EXPECT_EQ(bytes(str_pack_legacy_single(std::ldexp(1.0f, -129))), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(bytes(str_pack_legacy_single(F::denorm_min())), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(error_code(), 0u);
}

TEST_F(str_legacy_single, every_representable_exponent_round_trips) {
    for (uint32_t exponent = 0; exponent <= 253; ++exponent) {
        for (uint32_t mantissa : {0u, 1u, 0x400000u, 0x7FFFFFu, 0x123456u, 0x200000u}) {
            for (uint32_t sign : {0u, 0x80000000u}) {
                const float value = std::bit_cast<float>(sign | exponent << 23 | mantissa);
                if (value != 0.0f && std::fabs(value) < std::ldexp(1.0f, -128)) continue;
                const float back = str_unpack_legacy_single(str_pack_legacy_single(value));
                ASSERT_EQ(back, value) << exponent << " " << mantissa << " " << sign;
            }
        }
        str_cleanup(1, 0);
    }
    EXPECT_EQ(error_code(), 0u);
}

// --- The older 8-byte real layout ---------------------------------------------------------------

TEST_F(str_legacy_double, known_images) {
    EXPECT_EQ(packed(str_pack_legacy_double(1.0), 8), (Bytes{0, 0, 0, 0, 0, 0, 0, 0x81}));
    EXPECT_EQ(packed(str_pack_legacy_double(-1.0), 8), (Bytes{0, 0, 0, 0, 0, 0, 0x80, 0x81}));
    EXPECT_EQ(packed(str_pack_legacy_double(-0.75), 8), (Bytes{0, 0, 0, 0, 0, 0, 0xC0, 0x80}));
    // The lowest double fraction bit lands three bits up.
    EXPECT_EQ(packed(str_pack_legacy_double(1.0 + std::ldexp(1.0, -52)), 8),
              (Bytes{0x08, 0, 0, 0, 0, 0, 0, 0x81}));
    EXPECT_EQ(packed(str_pack_legacy_double(0.0), 8), Bytes(8, 0));
    EXPECT_EQ(packed(str_pack_legacy_double(-0.0), 8), Bytes(8, 0));
    // Same exponent byte as the 4-byte form for the same value.
    for (float value : {0.1f, -3.0f, 1e30f, 1e-30f}) {
        EXPECT_EQ(bytes(str_pack_legacy_double(value))[7], bytes(str_pack_legacy_single(value))[3]);
        EXPECT_EQ(bytes(str_pack_legacy_double(value))[6], bytes(str_pack_legacy_single(value))[2]);
    }
    EXPECT_EQ(error_code(), 0u);
}

TEST_F(str_legacy_double, range_limits) {
    using D = std::numeric_limits<double>;
    const double two_127 = std::ldexp(1.0, 127);
    for (double value :
         {two_127, -two_127, 1e300, D::max(), D::infinity(), -D::infinity(), D::quiet_NaN()}) {
        BasicString* s = str_pack_legacy_double(value);
        EXPECT_TRUE(str_is_plain_temporary(s));
        EXPECT_EQ(s->length, 0) << value;
        expect_error_5_and_clear();
    }
    const double largest = std::nextafter(two_127, 0.0);
    EXPECT_EQ(str_unpack_legacy_double(str_pack_legacy_double(largest)), largest);
    const double smallest = std::ldexp(1.0, -128);
    EXPECT_EQ(bytes(str_pack_legacy_double(smallest)), (Bytes{0, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(bytes(str_pack_legacy_double(std::nextafter(smallest, 0.0))), Bytes(8, 0));
    EXPECT_EQ(bytes(str_pack_legacy_double(1e-300)), Bytes(8, 0));
    EXPECT_EQ(bytes(str_pack_legacy_double(-D::denorm_min())), Bytes(8, 0));
    EXPECT_EQ(error_code(), 0u);
}

TEST_F(str_legacy_double, every_representable_exponent_round_trips) {
    for (uint64_t exponent = 1023 - 128; exponent <= 1023 + 126; ++exponent) {
        for (uint64_t fraction :
             {0ull, 1ull, 0xFFFFFFFFFFFFFull, 0x123456789ABCDull, 0x8000000000000ull}) {
            for (uint64_t sign : {0ull, 1ull << 63}) {
                const double value = std::bit_cast<double>(sign | exponent << 52 | fraction);
                ASSERT_EQ(str_unpack_legacy_double(str_pack_legacy_double(value)), value)
                    << exponent << " " << fraction;
            }
        }
        str_cleanup(1, 0);
    }
    EXPECT_EQ(error_code(), 0u);
}

TEST_F(str_legacy_double, extra_mantissa_bits_round_to_nearest_even) {
    // 1.0 with the three bits a double cannot hold: 4 is exactly half an ulp.
    auto with_low_bits = [](uint8_t low) { return image({low, 0, 0, 0, 0, 0, 0, 0x81}); };
    const double ulp = std::ldexp(1.0, -52);
    EXPECT_EQ(str_unpack_legacy_double(with_low_bits(3)), 1.0);
    EXPECT_EQ(str_unpack_legacy_double(with_low_bits(4)), 1.0);
    EXPECT_EQ(str_unpack_legacy_double(with_low_bits(5)), 1.0 + ulp);
    EXPECT_EQ(str_unpack_legacy_double(with_low_bits(12)), 1.0 + 2 * ulp);
    EXPECT_EQ(str_unpack_legacy_double(image({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})),
              -std::ldexp(1.0, 127)); // the largest image rounds up to 2^127
    EXPECT_EQ(str_unpack_legacy_double(image({1, 2, 3, 4, 5, 6, 7, 0})), 0.0);
    EXPECT_EQ(error_code(), 0u);
}

} // namespace
