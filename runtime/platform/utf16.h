#pragma once
// UTF-16 as Windows stores names, and UTF-8 as the rest of the program speaks. Windows names may
// hold a lone surrogate; such a unit is written in the generalised form of UTF-8 (three bytes, as
// if it were a character) so that every name survives the round trip and compares equal to
// itself wherever it was read.
#include <string>
#include <string_view>

std::string utf16_to_utf8(std::u16string_view units);
// Generalised UTF-8 back to UTF-16; a byte that starts no sequence becomes U+FFFD.
std::u16string utf8_to_utf16(std::string_view text);
