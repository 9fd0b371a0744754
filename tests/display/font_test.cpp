#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/display/font.h"

namespace {

// Pixel (x, y) of glyph `code` in a font of `rows` rows (the constant tables).
bool pixel(const uint8_t* table, int rows, int code, int x, int y) {
    return table[(size_t(code) * rows + y) * 8 + x] != 0;
}

int ink(const uint8_t* table, int rows, int code) {
    int count = 0;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < 8; ++x) count += pixel(table, rows, code, x, y);
    return count;
}

bool mirror_symmetric_over(const uint8_t* table, int rows, int code, int width) {
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < 8; ++x) {
            bool mirrored = x < width && pixel(table, rows, code, width - 1 - x, y);
            if (pixel(table, rows, code, x, y) != mirrored) return false;
        }
    return true;
}

// Letters leave the eighth column free as the gap between characters, so most are centred on
// columns 0-6; symbols and some letters use all eight columns.
bool mirror_symmetric(const uint8_t* table, int rows, int code) {
    return mirror_symmetric_over(table, rows, code, 7) ||
           mirror_symmetric_over(table, rows, code, 8);
}

std::string picture(const uint8_t* table, int rows, int code) {
    std::string out;
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < 8; ++x) out += pixel(table, rows, code, x, y) ? '#' : '.';
        out += '\n';
    }
    return out;
}

struct FontCase {
    const char* name;
    const uint8_t* table;
    int rows;
};

const FontCase FONTS[] = {{"8x8", FONT_8X8, 8}, {"8x16", FONT_8X16, 16}};

} // namespace

TEST(font_tables, only_byte_values_0_and_255) {
    for (const FontCase& font : FONTS)
        for (int i = 0; i < 256 * font.rows * 8; ++i)
            ASSERT_TRUE(font.table[i] == 0 || font.table[i] == 255) << font.name << " byte " << i;
}

TEST(font_tables, every_printable_code_has_ink) {
    // Blank in code page 437: 0, 32 and 255 (the latter two are spaces; 0 shows nothing).
    for (const FontCase& font : FONTS) {
        for (int code = 0; code < 256; ++code) {
            bool blank = code == 0 || code == 32 || code == 255;
            if (blank)
                EXPECT_EQ(ink(font.table, font.rows, code), 0) << font.name << " " << code;
            else
                EXPECT_GT(ink(font.table, font.rows, code), 0) << font.name << " " << code;
        }
    }
}

TEST(font_tables, full_block_and_shades) {
    for (const FontCase& font : FONTS) {
        EXPECT_EQ(ink(font.table, font.rows, 219), 8 * font.rows) << font.name;
        // 176 to 178 darken in steps: a quarter, a half and three quarters of the pixels.
        int light = ink(font.table, font.rows, 176);
        int medium = ink(font.table, font.rows, 177);
        int dark = ink(font.table, font.rows, 178);
        EXPECT_LT(light, medium) << font.name;
        EXPECT_LT(medium, dark) << font.name;
        EXPECT_EQ(medium, 4 * font.rows) << font.name << "\n"
                                         << picture(font.table, font.rows, 177);
        // The medium shade is a checkerboard: every pixel differs from its right and lower
        // neighbours.
        for (int y = 0; y + 1 < font.rows; ++y)
            for (int x = 0; x + 1 < 8; ++x) {
                bool here = pixel(font.table, font.rows, 177, x, y);
                ASSERT_NE(here, pixel(font.table, font.rows, 177, x + 1, y)) << font.name;
                ASSERT_NE(here, pixel(font.table, font.rows, 177, x, y + 1)) << font.name;
            }
    }
}

TEST(font_tables, half_blocks) {
    for (const FontCase& font : FONTS) {
        // 223 upper half and 220 lower half split the cell between them in whole rows (the VGA's
        // 16-row cell splits 7 over 9), 221 left half and 222 right half split the columns.
        int upper_rows = 0;
        for (int y = 0; y < font.rows; ++y) {
            bool upper = pixel(font.table, font.rows, 223, 0, y);
            upper_rows += upper;
            for (int x = 0; x < 8; ++x) {
                ASSERT_EQ(pixel(font.table, font.rows, 223, x, y), upper) << font.name;
                ASSERT_NE(pixel(font.table, font.rows, 220, x, y), upper) << font.name;
                EXPECT_EQ(pixel(font.table, font.rows, 221, x, y), x < 4) << font.name;
                EXPECT_EQ(pixel(font.table, font.rows, 222, x, y), x >= 4) << font.name;
            }
        }
        EXPECT_TRUE(pixel(font.table, font.rows, 223, 0, 0)) << font.name;
        EXPECT_GE(upper_rows, font.rows / 2 - 1) << font.name;
        EXPECT_LE(upper_rows, font.rows / 2) << font.name;
    }
}

TEST(font_tables, smiling_faces_are_symmetric_and_differ) {
    for (const FontCase& font : FONTS) {
        EXPECT_TRUE(mirror_symmetric(font.table, font.rows, 1))
            << font.name << "\n"
            << picture(font.table, font.rows, 1);
        EXPECT_TRUE(mirror_symmetric(font.table, font.rows, 2)) << font.name;
        // 2 is the filled face: more ink than the outlined one.
        EXPECT_GT(ink(font.table, font.rows, 2), ink(font.table, font.rows, 1)) << font.name;
    }
}

TEST(font_tables, letters_have_their_shapes) {
    for (const FontCase& font : FONTS) {
        for (int code :
             {'A', 'H', 'I', 'O', 'T', 'V', 'W', 'X', 'Y', 'M', 'o', 'v', 'w', '8', '-', '+', '='})
            EXPECT_TRUE(mirror_symmetric(font.table, font.rows, code))
                << font.name << " '" << char(code) << "'\n"
                << picture(font.table, font.rows, code);
        for (int code : {'F', 'L', 'J', 'P', 'R', '7'})
            EXPECT_FALSE(mirror_symmetric(font.table, font.rows, code))
                << font.name << " '" << char(code) << "'";
        // 'A' has a crossbar: some row below the apex is solid between its two legs.
        bool crossbar = false;
        for (int y = 0; y < font.rows; ++y) {
            int longest = 0;
            int run = 0;
            for (int x = 0; x < 8; ++x) {
                run = pixel(font.table, font.rows, 'A', x, y) ? run + 1 : 0;
                if (run > longest) longest = run;
            }
            crossbar |= longest >= 5;
        }
        EXPECT_TRUE(crossbar) << font.name << "\n" << picture(font.table, font.rows, 'A');
        // '-' is one horizontal stroke.
        int dash_rows = 0;
        for (int y = 0; y < font.rows; ++y) {
            bool any = false;
            for (int x = 0; x < 8; ++x) any |= pixel(font.table, font.rows, '-', x, y);
            dash_rows += any;
        }
        EXPECT_LE(dash_rows, 2) << font.name;
    }
}

TEST(font_tables, lines_of_the_box_drawing_set_meet) {
    // 196 is a horizontal line through the whole cell, 179 a vertical one, and 197 their cross:
    // adjacent cells join without gaps, which needs ink in the first and last column or row.
    for (const FontCase& font : FONTS) {
        bool left = false, right = false, top = false, bottom = false;
        for (int y = 0; y < font.rows; ++y) {
            left |= pixel(font.table, font.rows, 196, 0, y);
            right |= pixel(font.table, font.rows, 196, 7, y);
        }
        for (int x = 0; x < 8; ++x) {
            top |= pixel(font.table, font.rows, 179, x, 0);
            bottom |= pixel(font.table, font.rows, 179, x, font.rows - 1);
        }
        EXPECT_TRUE(left && right && top && bottom) << font.name;
        EXPECT_EQ(ink(font.table, font.rows, 197) > ink(font.table, font.rows, 196), true);
    }
}

TEST(font_tables, symbols_missing_from_the_8x8_font_are_derived) {
    // Codes 16 and 17 (the right and left pointers) come from the 8x16 glyphs folded to 8 rows:
    // each 8x8 row is the OR of two 8x16 rows.
    for (int code : {16, 17, 158, 169, 236, 239, 240}) {
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                bool folded = pixel(FONT_8X16, 16, code, x, 2 * y) ||
                              pixel(FONT_8X16, 16, code, x, 2 * y + 1);
                ASSERT_EQ(pixel(FONT_8X8, 8, code, x, y), folded) << "code " << code;
            }
        EXPECT_GT(ink(FONT_8X8, 8, code), 0) << code;
    }
    // The two pointers mirror each other.
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 7; ++x)
            EXPECT_EQ(pixel(FONT_8X8, 8, 16, x, y), pixel(FONT_8X8, 8, 17, 6 - x, y));
    // A glyph the 8x8 font does have is its own, not a fold: 'S' differs from the folded 8x16.
    bool differs = false;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            differs |= pixel(FONT_8X8, 8, 'S', x, y) != (pixel(FONT_8X16, 16, 'S', x, 2 * y) ||
                                                         pixel(FONT_8X16, 16, 'S', x, 2 * y + 1));
    EXPECT_TRUE(differs);
}

TEST(font_tables, code_page_437_mapping) {
    EXPECT_EQ(CP437_TO_UNICODE[0], 0x0020);
    EXPECT_EQ(CP437_TO_UNICODE[1], 0x263A);
    EXPECT_EQ(CP437_TO_UNICODE[2], 0x263B);
    EXPECT_EQ(CP437_TO_UNICODE[3], 0x2665);
    EXPECT_EQ(CP437_TO_UNICODE[30], 0x25B2);
    EXPECT_EQ(CP437_TO_UNICODE[31], 0x25BC);
    for (int code = 32; code < 127; ++code) EXPECT_EQ(CP437_TO_UNICODE[code], code);
    EXPECT_EQ(CP437_TO_UNICODE[127], 0x2302);
    EXPECT_EQ(CP437_TO_UNICODE[128], 0x00C7); // C cedilla
    EXPECT_EQ(CP437_TO_UNICODE[176], 0x2591); // light shade
    EXPECT_EQ(CP437_TO_UNICODE[196], 0x2500);
    EXPECT_EQ(CP437_TO_UNICODE[219], 0x2588); // full block
    EXPECT_EQ(CP437_TO_UNICODE[225], 0x00DF);
    EXPECT_EQ(CP437_TO_UNICODE[254], 0x25A0);
    EXPECT_EQ(CP437_TO_UNICODE[255], 0x0020);
    // Apart from the two blanks, no code point appears twice.
    for (int a = 1; a < 255; ++a)
        for (int b = a + 1; b < 255; ++b)
            ASSERT_NE(CP437_TO_UNICODE[a], CP437_TO_UNICODE[b]) << a << " " << b;
}

TEST(font_state_reset, copies_tables_and_fills_cell_sizes) {
    font_state.glyphs_8x16.fill(0x11);
    font_state.font_cell_width[5] = 99;
    font_state_reset();
    EXPECT_EQ(0, std::memcmp(font_state.glyphs_8x8.data(), FONT_8X8, FONT_8X8_BYTES));
    EXPECT_EQ(0, std::memcmp(font_state.glyphs_8x16.data(), FONT_8X16, FONT_8X16_BYTES));
    const int32_t expected[][3] = {{8, 8, 8},    {9, 16, 8},  {14, 8, 14},
                                   {15, 16, 14}, {16, 8, 16}, {17, 16, 16}};
    for (const auto& e : expected) {
        EXPECT_EQ(font_cell_width(e[0]), e[1]) << e[0];
        EXPECT_EQ(font_cell_height(e[0]), e[2]) << e[0];
    }
    for (int32_t code : {-1, 0, 5, 7, 10, 13, 18, 32, 48, 49, 1000}) {
        EXPECT_EQ(font_cell_width(code), 0) << code;
        EXPECT_EQ(font_cell_height(code), 0) << code;
        EXPECT_EQ(font_glyph(code, 'A'), nullptr) << code;
    }
}

TEST(font_glyph, fourteen_row_font_drops_the_top_and_bottom_rows) {
    font_state_reset();
    for (int code : {int('A'), 1, 219}) {
        EXPECT_EQ(font_glyph(14, uint8_t(code)), font_glyph(16, uint8_t(code)) + 8);
        EXPECT_EQ(font_glyph(15, uint8_t(code)), font_glyph(14, uint8_t(code)));
        EXPECT_EQ(font_glyph(9, uint8_t(code)), font_glyph(8, uint8_t(code)));
        EXPECT_EQ(0, std::memcmp(font_glyph(16, uint8_t(code)), &FONT_8X16[code * 128], 128));
        EXPECT_EQ(0, std::memcmp(font_glyph(8, uint8_t(code)), &FONT_8X8[code * 64], 64));
    }
}
