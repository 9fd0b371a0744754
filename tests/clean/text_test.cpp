#include <gtest/gtest.h>

#include <vector>

#include "clean/text.h"

namespace {

std::string from_utf16le(std::initializer_list<uint8_t> bytes) {
    const std::vector<uint8_t> data(bytes);
    return text_from_utf16le(std::span<const uint8_t>(data.data(), data.size()));
}

TEST(text_from_utf16, pairs_surrogates_and_keeps_lone_ones) {
    const struct {
        const char* what;
        std::u16string units;
        std::string utf8;
    } cases[] = {
        {"ASCII", u"cmd.exe", "cmd.exe"},
        {"two-byte forms", u"caf\u00e9 \u00a0", "caf\xC3\xA9 \xC2\xA0"},
        {"three-byte forms", u"\u0424\u3164", "\xD0\xA4\xE3\x85\xA4"},
        {"a pair", u"\U0001D11E", "\xF0\x9D\x84\x9E"},
        {"a lone high surrogate", std::u16string{0xD800, u'a'},
         "\xED\xA0\x80"
         "a"},
        {"a lone low surrogate", std::u16string{0xDFFF}, "\xED\xBF\xBF"},
        {"a low before a high does not pair", std::u16string{0xDC00, 0xD800},
         "\xED\xB0\x80\xED\xA0\x80"},
        {"a NUL is a character", std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(text_from_utf16(c.units), c.utf8);
        // And back: nothing is lost, lone surrogates included.
        EXPECT_EQ(text_to_utf16(c.utf8), c.units);
    }
}

TEST(text_from_utf16le, reads_little_endian_units_and_drops_an_odd_last_byte) {
    EXPECT_EQ(from_utf16le({0x24, 0x04, 0x3E, 0x04}), "\xD0\xA4\xD0\xBE");
    EXPECT_EQ(from_utf16le({0x41, 0x00, 0x42}), "A");
    EXPECT_EQ(from_utf16le({0x3D, 0xD8, 0x00, 0xDE}), "\xF0\x9F\x98\x80");
    EXPECT_EQ(from_utf16le({}), "");
}

TEST(text_from_cp1252, maps_the_high_half_including_the_undefined_bytes) {
    const std::vector<uint8_t> bytes = {'a', 0x80, 0x81, 0x8D, 0x9F, 0xA0, 0xE9, 0xFF};
    EXPECT_EQ(text_from_cp1252(std::span<const uint8_t>(bytes.data(), bytes.size())),
              "a\xE2\x82\xAC\xC2\x81\xC2\x8D\xC5\xB8\xC2\xA0\xC3\xA9\xC3\xBF");
}

TEST(text_to_utf16, replaces_each_invalid_byte) {
    const struct {
        const char* what;
        std::string utf8;
        std::u16string units;
    } cases[] = {
        {"a stray continuation byte",
         "a\x80"
         "b",
         u"a\uFFFDb"},
        {"an overlong slash", "\xC0\xAF", u"\uFFFD\uFFFD"},
        {"a sequence cut short", "\xE2\x82", u"\uFFFD\uFFFD"},
        {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"a four-byte form", "\xF0\x9F\x98\x80", u"\U0001F600"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(text_to_utf16(c.utf8), c.units);
    }
}

TEST(text_equal_fold, compares_names_as_windows_does_for_the_covered_scripts) {
    const struct {
        const char* a;
        const char* b;
        bool equal;
    } cases[] = {
        {"AUTORUN.INF", "autorun.inf", true},
        {"Photos", "Photo", false},
        {"", "", true},
        {"\xC3\x89t\xC3\xA9", "\xC3\xA9T\xC3\x89", true}, // Été, éTÉ
        {"\xC3\xBF", "\xC5\xB8", true},                   // ÿ, Ÿ
        {"\xC3\xB7", "\xC3\x97", false},                  // ÷ is not ×
        {"\xC3\x9F", "SS", false},                        // ß has no simple upper
        {"\xC5\x81\xC3\xB3"
         "d\xC5\xBA",
         "\xC5\x82\xC3\x93"
         "D\xC5\xB9",
         true},                   // Łódź
        {"\xC4\xB1", "I", false}, // dotless ı
        {"\xC5\xBF", "S", false}, // long s
        {"\xCE\xA3\xCE\xBF\xCF\x86\xCE\xAF\xCE\xB1", "\xCF\x83\xCE\x9F\xCE\xA6\xCE\x8A\xCE\x91",
         true},                         // Σοφία
        {"\xCF\x82", "\xCE\xA3", true}, // final sigma
        {"\xD0\xA4\xD0\xBE\xD1\x82\xD0\xBE", "\xD1\x84\xD0\x9E\xD0\xA2\xD0\x9E", true}, // Фото
        {"\xD1\x91\xD1\x97", "\xD0\x81\xD0\x87", true},                                 // ёї
        {"\xD2\x91", "\xD2\x90", true},                                                 // ґ
        {"\xD3\x8F", "\xD3\x80", true},                                                 // palochka
        {"\xEF\xBD\x81\xEF\xBD\x9A", "\xEF\xBC\xA1\xEF\xBC\xBA", true}, // fullwidth az
        {"\xEF\xBD\x81", "A", false},                                   // not ASCII
        {"\xE3\x85\xA4", "\xE3\x85\xA4", true},                         // U+3164 itself
        {"a\x80", "a\x81", false}, // two broken names stay apart
        {"a\x80", "A\x80", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " / " + c.b);
        EXPECT_EQ(text_equal_fold(c.a, c.b), c.equal);
        EXPECT_EQ(text_equal_fold(c.b, c.a), c.equal);
    }
}

} // namespace
