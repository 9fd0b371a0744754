#pragma once
// Text conversions for what a stick stores: UTF-16 names and strings of shortcuts and INI files,
// ANSI strings, and the case-blind comparisons Windows makes on file names. Everything inside the
// clean-up is UTF-8; a lone UTF-16 surrogate, which Windows allows in names, is kept in the
// generalised form (WTF-8) so that a name read from one place matches it read from another.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// Little-endian UTF-16 code units to UTF-8; stops at the end of the span, not at a NUL.
std::string text_from_utf16le(std::span<const uint8_t> bytes);
std::string text_from_utf16(std::u16string_view units);
// Windows-1252 bytes to UTF-8 (the five undefined bytes map to their C1 controls).
std::string text_from_cp1252(std::span<const uint8_t> bytes);
// UTF-8 (or WTF-8) back to UTF-16 code units; invalid bytes become U+FFFD.
std::u16string text_to_utf16(std::string_view utf8);

// ASCII letters lowered; every other byte kept.
std::string text_ascii_lower(std::string_view text);
// A name in the one letter case that Windows compares file names in (FAT and NTFS upcase each
// UTF-16 unit by a table): Unicode's simple upper-case mapping for ASCII, Latin-1, Latin
// Extended-A, Greek, Cyrillic (with its supplement) and fullwidth Latin; every other character
// kept as it is. Mappings from outside ASCII into it (dotless i, long s) are not made, and a byte
// that is not UTF-8 stays itself. Two names are the same name on a stick when their folds are
// equal.
std::string text_fold(std::string_view text);
bool text_equal_fold(std::string_view a, std::string_view b);
