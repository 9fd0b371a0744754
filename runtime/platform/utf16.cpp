#include "runtime/platform/utf16.h"

#include <cstdint>

namespace {

void put_utf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | c >> 6);
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | c >> 12);
        out += char(0x80 | (c >> 6 & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | c >> 18);
        out += char(0x80 | (c >> 12 & 0x3F));
        out += char(0x80 | (c >> 6 & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

bool is_high(uint32_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}

bool is_low(uint32_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

// One sequence at `i`: its code point (surrogates allowed, as the generalised form writes them)
// and its length; 0 when the bytes there start no well-formed sequence.
size_t decode(std::string_view s, size_t i, uint32_t& c) {
    const uint8_t b = uint8_t(s[i]);
    size_t length;
    uint32_t min;
    if (b < 0x80) {
        c = b;
        return 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
        length = 2, c = b & 0x1F, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3, c = b & 0x0F, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4, c = b & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + length > s.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        const uint8_t t = uint8_t(s[i + k]);
        if ((t & 0xC0) != 0x80) return 0;
        c = c << 6 | (t & 0x3F);
    }
    return c >= min && c <= 0x10FFFF ? length : 0;
}

} // namespace

std::string utf16_to_utf8(std::u16string_view units) {
    std::string out;
    out.reserve(units.size());
    for (size_t i = 0; i < units.size(); ++i) {
        const uint32_t u = units[i];
        if (is_high(u) && i + 1 < units.size() && is_low(units[i + 1])) {
            put_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00));
            ++i;
        } else {
            put_utf8(out, u);
        }
    }
    return out;
}

std::u16string utf8_to_utf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        uint32_t c = 0;
        const size_t length = decode(text, i, c);
        if (length == 0) {
            out += char16_t(0xFFFD);
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            out += char16_t(0xD800 + ((c - 0x10000) >> 10));
            out += char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += char16_t(c);
        }
        i += length;
    }
    return out;
}
