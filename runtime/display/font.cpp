#include "runtime/display/font.h"

#include <cstring>

FontState font_state;

void font_state_reset() {
    std::memcpy(font_state.glyphs_8x8.data(), FONT_8X8, FONT_8X8_BYTES);
    std::memcpy(font_state.glyphs_8x16.data(), FONT_8X16, FONT_8X16_BYTES);
    font_state.font_cell_width.fill(0);
    font_state.font_cell_height.fill(0);
    for (int32_t height : {8, 14, 16}) {
        // The wide variant of each font (code + 1) doubles every pixel horizontally, as the
        // 40-column modes of the PC did.
        font_state.font_cell_width[height] = 8;
        font_state.font_cell_height[height] = height;
        font_state.font_cell_width[height + 1] = 16;
        font_state.font_cell_height[height + 1] = height;
    }
}

int32_t font_cell_width(int32_t code) {
    return code >= 0 && code < FONT_CODES ? font_state.font_cell_width[code] : 0;
}

int32_t font_cell_height(int32_t code) {
    return code >= 0 && code < FONT_CODES ? font_state.font_cell_height[code] : 0;
}

const uint8_t* font_glyph(int32_t code, uint8_t character) {
    switch (code) {
    case FONT_CODE_8:
    case FONT_CODE_8_WIDE: return &font_state.glyphs_8x8[size_t(character) * 8 * FONT_GLYPH_WIDTH];
    case FONT_CODE_14:
    case FONT_CODE_14_WIDE:
        return &font_state.glyphs_8x16[(size_t(character) * 16 + 1) * FONT_GLYPH_WIDTH];
    case FONT_CODE_16:
    case FONT_CODE_16_WIDE:
        return &font_state.glyphs_8x16[size_t(character) * 16 * FONT_GLYPH_WIDTH];
    default: return nullptr;
    }
}
