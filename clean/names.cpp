#include "clean/names.h"

#include <array>
#include <cstdint>
#include <cstdio>

#include "clean/text.h"

namespace {

// The next code point of UTF-8 (or the generalised form) at `i`, advancing `i`; -1 for a byte
// that starts no sequence (then `i` moves by one).
int32_t next_code_point(std::string_view s, size_t& i) {
    const uint8_t b = uint8_t(s[i]);
    size_t length = b < 0x80                 ? 1
                    : b >= 0xC2 && b <= 0xDF ? 2
                    : b >= 0xE0 && b <= 0xEF ? 3
                    : b >= 0xF0 && b <= 0xF4 ? 4
                                             : 0;
    if (length == 0 || i + length > s.size()) {
        ++i;
        return -1;
    }
    int32_t c = length == 1 ? b : b & (0xFF >> (length + 1));
    for (size_t k = 1; k < length; ++k) {
        const uint8_t t = uint8_t(s[i + k]);
        if ((t & 0xC0) != 0x80) {
            ++i;
            return -1;
        }
        c = c << 6 | (t & 0x3F);
    }
    i += length;
    return c;
}

// Characters that draw as nothing in Explorer's file list, from Unicode's White_Space and
// Default_Ignorable_Code_Point properties plus the Hangul and Braille fillers that fonts draw
// empty. Windows allows every one of them in a name.
bool draws_as_nothing(int32_t c) {
    return c == 0x20 || c == 0xA0 || c == 0xAD || c == 0x34F || c == 0x61C || c == 0x115F ||
           c == 0x1160 || c == 0x1680 || c == 0x17B4 || c == 0x17B5 || c == 0x180E ||
           (c >= 0x180B && c <= 0x180F) || (c >= 0x2000 && c <= 0x200F) ||
           (c >= 0x2028 && c <= 0x202F) || (c >= 0x205F && c <= 0x206F) || c == 0x2800 ||
           c == 0x3000 || c == 0x3164 || (c >= 0xFE00 && c <= 0xFE0F) || c == 0xFEFF ||
           c == 0xFFA0 || (c >= 0xFFF0 && c <= 0xFFF8) || (c >= 0x1D173 && c <= 0x1D17A) ||
           (c >= 0xE0000 && c <= 0xE0FFF);
}

bool shown_escaped(int32_t c) {
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || (c >= 0xD800 && c <= 0xDFFF) ||
           (c != 0x20 && draws_as_nothing(c));
}

bool extension_in(std::string_view name, std::initializer_list<std::string_view> set) {
    const std::string extension = name_extension(name);
    for (std::string_view e : set)
        if (extension == e) return true;
    return false;
}

} // namespace

std::string name_extension(std::string_view name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return {};
    return text_ascii_lower(name.substr(dot));
}

std::string_view name_stem(std::string_view name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return name;
    return name.substr(0, dot);
}

bool name_is_blank(std::string_view name) {
    if (name.empty()) return false;
    for (size_t i = 0; i < name.size();)
        if (!draws_as_nothing(next_code_point(name, i))) return false;
    return true;
}

bool name_is_script(std::string_view name) {
    return extension_in(name, {".vbs", ".vbe", ".js", ".jse", ".wsf", ".wsh"});
}

bool name_is_program(std::string_view name) {
    return extension_in(name, {".exe", ".scr", ".pif", ".com", ".cmd", ".bat"});
}

bool name_is_runnable(std::string_view name) {
    return name_is_program(name) || name_is_script(name) ||
           extension_in(name, {".hta", ".ps1", ".msi", ".msp", ".dll", ".cpl", ".ocx", ".jar",
                               ".sct", ".inf", ".reg", ".vb", ".psm1"});
}

std::string name_shown(std::string_view name) {
    std::string shown;
    for (size_t i = 0; i < name.size();) {
        const size_t start = i;
        const int32_t c = next_code_point(name, i);
        char buffer[16];
        if (c < 0) {
            std::snprintf(buffer, sizeof buffer, "[%02X]", unsigned(uint8_t(name[start])));
            shown += buffer;
        } else if (shown_escaped(c)) {
            std::snprintf(buffer, sizeof buffer, "[U+%04X]", unsigned(c));
            shown += buffer;
        } else {
            shown.append(name.substr(start, i - start));
        }
    }
    return shown;
}
