// Number texts. One table of expected texts serves every build: the Linux tests and the
// Windows tests (run under Wine) read the same rows, so the two builds must agree byte for byte.
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "runtime/strings/str_from.h"
#include "strings/str_fixture.h"

namespace {

enum class Kind { I64, I32, I16, I8, U64, U32, U16, U8, Single, Double, Extended };

struct NumberText {
    Kind kind;
    int64_t i = 0;
    uint64_t u = 0;
    float f = 0;
    double d = 0;
    long double x = 0;
    const char* text = "";
};

NumberText i64(int64_t v, const char* t) {
    return {Kind::I64, v, 0, 0, 0, 0, t};
}
NumberText i32(int32_t v, const char* t) {
    return {Kind::I32, v, 0, 0, 0, 0, t};
}
NumberText i16(int16_t v, const char* t) {
    return {Kind::I16, v, 0, 0, 0, 0, t};
}
NumberText i8(int8_t v, const char* t) {
    return {Kind::I8, v, 0, 0, 0, 0, t};
}
NumberText u64(uint64_t v, const char* t) {
    return {Kind::U64, 0, v, 0, 0, 0, t};
}
NumberText u32(uint32_t v, const char* t) {
    return {Kind::U32, 0, v, 0, 0, 0, t};
}
NumberText u16(uint16_t v, const char* t) {
    return {Kind::U16, 0, v, 0, 0, 0, t};
}
NumberText u8(uint8_t v, const char* t) {
    return {Kind::U8, 0, v, 0, 0, 0, t};
}
NumberText sgl(float v, const char* t) {
    return {Kind::Single, 0, 0, v, 0, 0, t};
}
NumberText dbl(double v, const char* t) {
    return {Kind::Double, 0, 0, 0, v, 0, t};
}
NumberText ext(long double v, const char* t) {
    return {Kind::Extended, 0, 0, 0, 0, v, t};
}

constexpr float FLOAT_INF = std::numeric_limits<float>::infinity();
constexpr double DOUBLE_INF = std::numeric_limits<double>::infinity();

const NumberText NUMBER_TEXTS[] = {
    // Integers: a sign position in front of every signed value, a space before every unsigned.
    i64(123, " 123"),
    i64(-5, "-5"),
    i64(0, " 0"),
    i64(INT64_MAX, " 9223372036854775807"),
    i64(INT64_MIN, "-9223372036854775808"),
    i32(INT32_MAX, " 2147483647"),
    i32(INT32_MIN, "-2147483648"),
    i32(-1, "-1"),
    i16(INT16_MAX, " 32767"),
    i16(INT16_MIN, "-32768"),
    i8(INT8_MAX, " 127"),
    i8(INT8_MIN, "-128"),
    i8(0, " 0"),
    u64(UINT64_MAX, " 18446744073709551615"),
    u64(0, " 0"),
    u32(UINT32_MAX, " 4294967295"),
    u16(UINT16_MAX, " 65535"),
    u8(UINT8_MAX, " 255"),
    u8(0, " 0"),

    // Singles: seven significant digits.
    sgl(1.5f, " 1.5"),
    sgl(1234567.0f, " 1234567"),
    sgl(12345678.0f, " 1.234568E+07"),
    sgl(0.000001f, " .000001"),
    sgl(-0.5f, "-.5"),
    sgl(-0.25f, "-.25"),
    sgl(0.5f, " .5"),
    sgl(0.0f, " 0"),
    sgl(-0.0f, " 0"),
    sgl(0.000000012f, " 1.2E-08"),
    sgl(1e20f, " 1E+20"),
    sgl(0.1f, " .1"),
    sgl(1000000.0f, " 1000000"),
    sgl(1200000.0f, " 1200000"),
    sgl(10000000.0f, " 1E+07"),
    sgl(0.0000001f, " .0000001"), // last digit 8 places below the exponent: still fixed
    sgl(0.00000001f, " 1E-08"),   // 9 places below
    sgl(0.00000012f, " 1.2E-07"), // 9 places below
    sgl(123.456f, " 123.456"),
    sgl(-123.456f, "-123.456"),
    sgl(100.0f, " 100"),
    sgl(9.999999f, " 9.999999"),
    sgl(0.99999994f, " .9999999"),     // largest single below 1
    sgl(1.99999988f, " 2"),            // largest single below 2: rounds up to one digit
    sgl(16777205.0f, " 1.67772E+07"),  // exact half: to even (down)
    sgl(16777215.0f, " 1.677722E+07"), // exact half: to even (up)
    sgl(FLT_MAX, " 3.402823E+38"),
    sgl(-FLT_MAX, "-3.402823E+38"),
    sgl(FLT_MIN, " 1.175494E-38"),
    sgl(std::numeric_limits<float>::denorm_min(), " 1.401298E-45"),
    sgl(FLOAT_INF, " INF"),
    sgl(-FLOAT_INF, "-INF"),
    sgl(std::numeric_limits<float>::quiet_NaN(), " NAN"),
    sgl(-std::numeric_limits<float>::quiet_NaN(), " NAN"),

    // Doubles: sixteen significant digits, fifteen when the sixteenth would be 9.
    dbl(1e-20, " 1D-20"),
    dbl(-0.5, "-.5"),
    dbl(0.0, " 0"),
    dbl(-0.0, " 0"),
    dbl(1.5, " 1.5"),
    dbl(-1.5, "-1.5"),
    dbl(100.0, " 100"),
    dbl(1e100, " 1D+100"),
    dbl(1e-100, " 1D-100"),
    dbl(1e99, " 1D+99"),
    dbl(1e-99, " 1D-99"),
    dbl(0.1, " .1"),
    dbl(0.1 + 0.2, " .3"),
    dbl(1.0 / 3.0, " .3333333333333333"),
    dbl(2.0 / 3.0, " .6666666666666666"),
    dbl(0.99999999999999989, " 1"), // sixteen digits 9.999999999999999E-01
    dbl(1e15, " 1000000000000000"),
    dbl(1.5e15, " 1500000000000000"),
    dbl(1e16, " 1D+16"),
    dbl(1234567890123456.0, " 1234567890123456"),
    dbl(123456789012345678.0, " 1.234567890123457D+17"),
    dbl(12345678901234567890.0, " 1.234567890123457D+19"),
    dbl(1999999999999999.0, " 2000000000000000"), // the nines rounded away in fixed form too
    dbl(1000000000000000.5, " 1000000000000000"), // exact half: to even (down)
    dbl(1000000000000001.5, " 1000000000000002"), // exact half: to even (up)
    dbl(0.000001, " .000001"),
    dbl(1e-16, " .0000000000000001"), // 17 places below the exponent: still fixed
    dbl(1e-17, " 1D-17"),
    dbl(1.5e-16, " 1.5D-16"),
    dbl(DBL_MAX, " 1.797693134862316D+308"),
    dbl(-DBL_MAX, "-1.797693134862316D+308"),
    dbl(DBL_MIN, " 2.225073858507201D-308"),
    dbl(std::numeric_limits<double>::denorm_min(), " 4.940656458412465D-324"),
    dbl(DOUBLE_INF, " INF"),
    dbl(-DOUBLE_INF, "-INF"),
    dbl(std::numeric_limits<double>::quiet_NaN(), " NAN"),

    // Extended reals go through a double.
    ext(-2.5L, "-2.5"),
    ext(0.1L, " .1"),
    ext(1e4000L, " INF"),
    ext(-1e4000L, "-INF"),
    ext(1e-4000L, " 0"),
};

BasicString* text_of(const NumberText& row) {
    switch (row.kind) {
    case Kind::I64: return str_from_int64(row.i);
    case Kind::I32: return str_from_int32(int32_t(row.i));
    case Kind::I16: return str_from_int16(int16_t(row.i));
    case Kind::I8: return str_from_int8(int8_t(row.i));
    case Kind::U64: return str_from_uint64(row.u);
    case Kind::U32: return str_from_uint32(uint32_t(row.u));
    case Kind::U16: return str_from_uint16(uint16_t(row.u));
    case Kind::U8: return str_from_uint8(uint8_t(row.u));
    case Kind::Single: return str_from_single(row.f);
    case Kind::Double: return str_from_double(row.d);
    case Kind::Extended: return str_from_extended(row.x);
    }
    return nullptr;
}

class StrFromTest : public StrEngineTest {};

TEST_F(StrFromTest, table_of_texts) {
    int32_t row_number = 0;
    for (const NumberText& row : NUMBER_TEXTS) {
        const int32_t mark = str_temp_mark();
        BasicString* s = text_of(row);
        ASSERT_NE(s, nullptr);
        EXPECT_TRUE(str_is_plain_temporary(s)) << "row " << row_number;
        EXPECT_EQ(text(s), row.text) << "row " << row_number;
        str_cleanup(mark, 0);
        ++row_number;
    }
}

TEST_F(StrFromTest, each_text_is_a_new_temporary_freed_by_the_statement) {
    const int32_t mark = str_temp_mark();
    BasicString* a = str_from_int64(7);
    BasicString* b = str_from_double(7.0);
    EXPECT_NE(a, b);
    EXPECT_EQ(str_temp_mark(), mark + 2);
    str_cleanup(mark, 0);
    EXPECT_EQ(str_temp_mark(), mark);
    EXPECT_TRUE(released(a));
    EXPECT_TRUE(released(b));
}

// --- Differential property: texts read back -----------------------------------------------------

// The value the text must stand for, from the C library's correctly rounded printf: `digits`
// significant digits, and for doubles fifteen when the sixteenth is 9. Also reports the
// exponent and the number of significant digits, which decide between the two forms.
struct Expected {
    double value;
    int32_t exponent;
    int32_t digits;
};

Expected expected_of(double x, int32_t precision, bool nines_rule) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*e", precision - 1, std::fabs(x));
    if (nines_rule && text[precision] == '9')
        std::snprintf(text, sizeof text, "%.*e", precision - 2, std::fabs(x));
    Expected e{};
    e.value = std::strtod(text, nullptr);
    if (std::signbit(x)) e.value = -e.value;
    e.exponent = std::atoi(std::strchr(text, 'e') + 1);
    std::string mantissa;
    for (const char* p = text; *p != 'e'; ++p)
        if (*p != '.') mantissa += *p;
    while (!mantissa.empty() && mantissa.back() == '0') mantissa.pop_back();
    e.digits = int32_t(mantissa.size());
    return e;
}

// Checks one text against the rules of the style and returns its value read back.
double read_back(const std::string& text, char letter, const Expected& e, int32_t fixed_top,
                 int32_t fixed_depth) {
    EXPECT_TRUE(text[0] == ' ' || text[0] == '-') << text;
    EXPECT_NE(text.substr(1, 2), "0.") << text; // no leading zero
    const size_t exponent_at = text.find(letter);
    const bool fixed = e.exponent <= fixed_top && e.exponent - e.digits >= -fixed_depth;
    EXPECT_EQ(exponent_at == std::string::npos, fixed) << text;
    const std::string mantissa = text.substr(0, exponent_at);
    if (mantissa.find('.') != std::string::npos) {
        EXPECT_NE(mantissa.back(), '0') << text; // no trailing zero after the point
    }
    EXPECT_NE(mantissa.back(), '.') << text;
    std::string readable = text;
    if (exponent_at != std::string::npos) {
        const size_t exponent_digits = text.size() - exponent_at - 2;
        EXPECT_EQ(exponent_digits, std::abs(e.exponent) > 99 ? 3u : 2u) << text;
        readable[exponent_at] = 'e';
    }
    return std::strtod(readable.c_str(), nullptr);
}

// Folds every text into one FNV-1a digest, printed so that two builds can be compared.
uint64_t fold(uint64_t digest, const char* text, int32_t length) {
    for (int32_t i = 0; i < length; ++i) digest = (digest ^ uint8_t(text[i])) * 1099511628211u;
    return digest;
}

constexpr int32_t PROPERTY_ROUNDS = 200000;

TEST(str_format_double, random_doubles_read_back_as_their_rounded_value) {
    std::mt19937_64 random(20261208);
    uint64_t digest = 14695981039346656037u;
    for (int32_t round = 0; round < PROPERTY_ROUNDS; ++round) {
        // Random bit patterns cover every exponent, subnormals included; every fourth value is
        // a short decimal, where the fixed/exponent boundary and the nines are most common.
        const uint64_t bits = random();
        double x;
        std::memcpy(&x, &bits, sizeof x);
        if (round % 4 == 3) x = double(int64_t(bits % 2000001) - 1000000) / 1000.0;
        if (!std::isfinite(x) || x == 0) continue;
        char text[STR_FROM_MAX_TEXT];
        const int32_t length = str_format_double(x, text);
        digest = fold(digest, text, length);
        const Expected e = expected_of(x, 16, true);
        const double back = read_back(std::string(text, size_t(length)), 'D', e, 15, 17);
        ASSERT_EQ(back, e.value) << std::string(text, size_t(length));
        ASSERT_EQ(std::signbit(back), std::signbit(x));
    }
    std::printf("double texts digest %016llx\n", static_cast<unsigned long long>(digest));
}

TEST(str_format_single, random_singles_read_back_as_their_rounded_value) {
    std::mt19937_64 random(20261209);
    uint64_t digest = 14695981039346656037u;
    for (int32_t round = 0; round < PROPERTY_ROUNDS; ++round) {
        const uint32_t bits = uint32_t(random());
        float f;
        std::memcpy(&f, &bits, sizeof f);
        if (round % 4 == 3) f = float(int32_t(bits % 20001) - 10000) / 100.0f;
        if (!std::isfinite(f) || f == 0) continue;
        char text[STR_FROM_MAX_TEXT];
        const int32_t length = str_format_single(f, text);
        digest = fold(digest, text, length);
        const Expected e = expected_of(f, 7, false);
        const double back = read_back(std::string(text, size_t(length)), 'E', e, 6, 8);
        ASSERT_EQ(back, e.value) << std::string(text, size_t(length));
    }
    std::printf("single texts digest %016llx\n", static_cast<unsigned long long>(digest));
}

} // namespace
