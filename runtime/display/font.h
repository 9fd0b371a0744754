#pragma once
// The built-in code-page-437 glyph tables and the cell size of each font code.
//
// Glyph layout: glyph g, row r, pixel column c is byte (g * rows + r) * 8 + c; 0 is background,
// any other value (the tables use 255) foreground. One byte per pixel costs 48 KB but lets the
// composer draw a cell without bit twiddling. The constant tables are generated at build time
// from the Linux console fonts (tools/fontgen); start-up copies them into the working tables of
// font_state, which the composer reads.
#include <array>
#include <cstdint>

constexpr int32_t FONT_GLYPHS = 256;
constexpr int32_t FONT_GLYPH_WIDTH = 8;
constexpr int32_t FONT_8X8_BYTES = FONT_GLYPHS * 8 * FONT_GLYPH_WIDTH;
constexpr int32_t FONT_8X16_BYTES = FONT_GLYPHS * 16 * FONT_GLYPH_WIDTH;
static_assert(FONT_8X8_BYTES == 16384 && FONT_8X16_BYTES == 32768);

// Font codes 0 to 48 have a cell size entry; only the built-in codes below have a non-zero one.
// Codes 32 and above would name fonts loaded at run time.
constexpr int32_t FONT_CODES = 49;
constexpr int32_t FONT_CODE_8 = 8; // 8 x 8
constexpr int32_t FONT_CODE_8_WIDE = 9;
constexpr int32_t FONT_CODE_14 = 14; // rows 1 to 14 of the 8 x 16 glyphs
constexpr int32_t FONT_CODE_14_WIDE = 15;
constexpr int32_t FONT_CODE_16 = 16; // 8 x 16
constexpr int32_t FONT_CODE_16_WIDE = 17;

// Generated (build directory, font_data.cpp).
extern const uint8_t FONT_8X8[FONT_8X8_BYTES];
extern const uint8_t FONT_8X16[FONT_8X16_BYTES];
// The Unicode code point each character code stands for, used to render loaded fonts.
extern const uint16_t CP437_TO_UNICODE[FONT_GLYPHS];

// Written by start-up (and test fixtures) before the display thread exists; read-only after.
struct FontState {
    std::array<uint8_t, FONT_8X8_BYTES> glyphs_8x8{};
    std::array<uint8_t, FONT_8X16_BYTES> glyphs_8x16{};
    // Cell size in frame pixels by font code; 0 for codes without a font.
    std::array<int32_t, FONT_CODES> font_cell_width{};
    std::array<int32_t, FONT_CODES> font_cell_height{};
};

extern FontState font_state;

// Copies the constant glyph tables into the working tables and fills the cell sizes of the
// built-in font codes.
void font_state_reset();

// Cell size of a font code, 0 when the code names no font.
int32_t font_cell_width(int32_t code);
int32_t font_cell_height(int32_t code);

// The first glyph row of `character` in a built-in font (font_cell_height rows of 8 bytes
// follow); null for other codes. The 14-row font is the 16-row glyphs without their top and
// bottom rows.
const uint8_t* font_glyph(int32_t code, uint8_t character);
