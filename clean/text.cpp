// Conversions between the encodings a stick holds and the UTF-8 used inside the clean-up, and
// the case-blind name comparison.
//
// Generalised UTF-8 (WTF-8): a UTF-16 surrogate that has no partner is written as the three-byte
// sequence its code point would take (ED A0..BF xx), which strict UTF-8 forbids. Windows file
// names are sequences of 16-bit units with no pairing rule, so this is the only lossless way to
// carry them in UTF-8.
#include "clean/text.h"

#include "runtime/platform/utf16.h"

#include <array>
#include <vector>

namespace {

// Code points above Unicode's range stand for undecodable bytes in comparisons, so that two
// different broken names never compare equal.
constexpr char32_t RAW_BYTE_BASE = 0x110000;

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(char(c));
    } else if (c < 0x800) {
        out.push_back(char(0xC0 | (c >> 6)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(char(0xE0 | (c >> 12)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (c >> 18)));
        out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    }
}

// One code point from `text` at `i`, advancing `i`. Accepts the surrogate code points of
// generalised UTF-8; a byte that starts no valid sequence yields RAW_BYTE_BASE + byte and moves
// on by one byte.
char32_t decode_next(std::string_view text, size_t& i) {
    const uint8_t lead = uint8_t(text[i]);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    size_t length = 0;
    char32_t c = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, c = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, c = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, c = lead & 0x07, minimum = 0x10000;
    }
    if (length == 0 || text.size() - i < length) {
        ++i;
        return RAW_BYTE_BASE + lead;
    }
    for (size_t k = 1; k < length; ++k) {
        const uint8_t next = uint8_t(text[i + k]);
        if ((next & 0xC0) != 0x80) {
            ++i;
            return RAW_BYTE_BASE + lead;
        }
        c = (c << 6) | (next & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF) {
        ++i;
        return RAW_BYTE_BASE + lead;
    }
    i += length;
    return c;
}

// Windows-1252's 0x80..0x9F; the five bytes the code page leaves undefined keep their C1 code.
constexpr std::array<char16_t, 32> CP1252_HIGH = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// In a block of alternating case pairs, each upper-case letter is followed by its lower-case
// one; `upper_even` tells at which parity the upper-case letters sit.
char32_t pair_upper(char32_t c, bool upper_even) {
    const bool even = (c & 1) == 0;
    return even == upper_even ? c : c - 1;
}

// Unicode's simple upper-case mapping (UnicodeData.txt, field 12) for the scripts whose names
// turn up on sticks here: Latin-1, Latin Extended-A, Greek, Cyrillic and fullwidth Latin.
// Mappings that lead from outside ASCII into ASCII (U+0131 dotless i, U+017F long s, U+212A
// Kelvin sign) are left out: the file systems' upcase tables keep those names apart from their
// ASCII look-alikes, and so must we.
char32_t fold(char32_t c) {
    if (c >= 'a' && c <= 'z') return c - 0x20;
    if (c < 0xE0) return c;
    // Latin-1: U+00E0..U+00FE less the division sign; U+00FF ÿ goes to U+0178.
    if (c <= 0xFE) return c == 0xF7 ? c : c - 0x20;
    if (c == 0xFF) return 0x178;
    // Latin Extended-A.
    if (c >= 0x100 && c <= 0x12F) return pair_upper(c, true);
    if (c >= 0x132 && c <= 0x137) return pair_upper(c, true);
    if (c >= 0x139 && c <= 0x148) return pair_upper(c, false);
    if (c >= 0x14A && c <= 0x177) return pair_upper(c, true);
    if (c >= 0x179 && c <= 0x17E) return pair_upper(c, false);
    // Greek, with the accented vowels and the final sigma.
    if (c >= 0x3B1 && c <= 0x3C1) return c - 0x20;
    if (c == 0x3C2) return 0x3A3;
    if (c >= 0x3C3 && c <= 0x3CB) return c - 0x20;
    if (c == 0x3AC) return 0x386;
    if (c >= 0x3AD && c <= 0x3AF) return c - 0x25;
    if (c == 0x3CC) return 0x38C;
    if (c == 0x3CD || c == 0x3CE) return c - 0x3F;
    if (c >= 0x3D8 && c <= 0x3EF) return pair_upper(c, true);
    // Cyrillic.
    if (c >= 0x430 && c <= 0x44F) return c - 0x20;
    if (c >= 0x450 && c <= 0x45F) return c - 0x50;
    if (c >= 0x460 && c <= 0x481) return pair_upper(c, true);
    if (c >= 0x48A && c <= 0x4BF) return pair_upper(c, true);
    if (c >= 0x4C1 && c <= 0x4CE) return pair_upper(c, false);
    if (c == 0x4CF) return 0x4C0;
    if (c >= 0x4D0 && c <= 0x52F) return pair_upper(c, true);
    // Fullwidth Latin.
    if (c >= 0xFF41 && c <= 0xFF5A) return c - 0x20;
    return c;
}

} // namespace

std::string text_from_utf16le(std::span<const uint8_t> bytes) {
    std::u16string units(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = char16_t(bytes[2 * i] | bytes[2 * i + 1] << 8);
    return utf16_to_utf8(units);
}

std::string text_from_utf16(std::u16string_view units) {
    return utf16_to_utf8(units);
}

std::string text_from_cp1252(std::span<const uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const uint8_t byte : bytes) {
        if (byte >= 0x80 && byte <= 0x9F) {
            append_utf8(out, CP1252_HIGH[byte - 0x80]);
        } else {
            append_utf8(out, byte);
        }
    }
    return out;
}

std::u16string text_to_utf16(std::string_view utf8) {
    return utf8_to_utf16(utf8);
}

std::string text_ascii_lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = char(c + 0x20);
    return out;
}

std::string text_fold(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const char32_t c = decode_next(text, i);
        if (c >= RAW_BYTE_BASE)
            out.push_back(char(c - RAW_BYTE_BASE));
        else
            append_utf8(out, fold(c));
    }
    return out;
}

bool text_equal_fold(std::string_view a, std::string_view b) {
    size_t i = 0;
    size_t k = 0;
    while (i < a.size() && k < b.size()) {
        if (fold(decode_next(a, i)) != fold(decode_next(b, k))) return false;
    }
    return i == a.size() && k == b.size();
}
