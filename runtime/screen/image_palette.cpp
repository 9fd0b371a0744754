// The run-time's default colours as constant data, built at compile time from the hardware's
// levels, and the palette a new image of each mode starts with.
#include <cstring>

#include "runtime/screen/detail.h"
#include "runtime/screen/image.h"

namespace {

constexpr uint32_t rgb(uint32_t red, uint32_t green, uint32_t blue) {
    return red << 16 | green << 8 | blue;
}

// The CGA/EGA text colours as the VGA BIOS programs them for text modes.
constexpr uint32_t TEXT_COLOURS[16] = {
    rgb(0, 0, 0),     rgb(0, 0, 170),    rgb(0, 170, 0),    rgb(0, 170, 170),
    rgb(170, 0, 0),   rgb(170, 0, 170),  rgb(170, 85, 0),   rgb(170, 170, 170),
    rgb(85, 85, 85),  rgb(85, 85, 255),  rgb(85, 255, 85),  rgb(85, 255, 255),
    rgb(255, 85, 85), rgb(255, 85, 255), rgb(255, 255, 85), rgb(255, 255, 255),
};

constexpr uint8_t GREY_LEVELS[16] = {0,   20,  32,  45,  57,  69,  81,  97,
                                     113, 130, 146, 162, 182, 202, 227, 255};

// The VGA DAC holds 6-bit levels; round(v * 255 / 63). 63 is odd, so no value lies halfway.
constexpr uint32_t dac_level(uint32_t v) {
    return (v * 255 + 31) / 63;
}

// The VGA BIOS default colour ring (entries 32-247): three intensities (maximum DAC level 63, 28
// and 16), each at three saturations. Every group walks 24 hues from blue through magenta, red,
// yellow, green and cyan back towards blue, using five levels from the group's floor to its
// maximum.
constexpr uint8_t RING_LEVELS[9][5] = {
    {0, 16, 31, 47, 63}, {31, 39, 47, 55, 63}, {45, 49, 54, 58, 63},
    {0, 7, 14, 21, 28},  {14, 17, 21, 24, 28}, {20, 22, 24, 26, 28},
    {0, 4, 8, 12, 16},   {8, 10, 12, 14, 16},  {11, 12, 13, 15, 16},
};

constexpr std::array<uint32_t, 256> build_default_palette() {
    std::array<uint32_t, 256> palette{};
    for (int i = 0; i < 16; ++i) palette[i] = TEXT_COLOURS[i];
    for (int i = 0; i < 16; ++i)
        palette[16 + i] = rgb(GREY_LEVELS[i], GREY_LEVELS[i], GREY_LEVELS[i]);
    for (int group = 0; group < 9; ++group) {
        const uint8_t* level = RING_LEVELS[group];
        for (int hue = 0; hue < 24; ++hue) {
            int step = hue % 4;
            uint32_t low = level[0], high = level[4], up = level[step], down = level[4 - step];
            uint32_t r = 0, g = 0, b = 0;
            switch (hue / 4) {
            case 0: r = up, g = low, b = high; break;    // blue to magenta
            case 1: r = high, g = low, b = down; break;  // magenta to red
            case 2: r = high, g = up, b = low; break;    // red to yellow
            case 3: r = down, g = high, b = low; break;  // yellow to green
            case 4: r = low, g = high, b = up; break;    // green to cyan
            default: r = low, g = down, b = high; break; // cyan to blue
            }
            palette[32 + group * 24 + hue] = rgb(dac_level(r), dac_level(g), dac_level(b));
        }
    }
    return palette; // 248-255 stay black
}

// The 64 colours of the EGA: two bits per primary, bits 2/5 red, 1/4 green, 0/3 blue.
constexpr std::array<uint32_t, 64> build_ega_palette() {
    std::array<uint32_t, 64> palette{};
    for (uint32_t i = 0; i < 64; ++i) {
        uint32_t r = 170 * (i >> 2 & 1) + 85 * (i >> 5 & 1);
        uint32_t g = 170 * (i >> 1 & 1) + 85 * (i >> 4 & 1);
        uint32_t b = 170 * (i & 1) + 85 * (i >> 3 & 1);
        palette[i] = rgb(r, g, b);
    }
    return palette;
}

} // namespace

extern const std::array<uint32_t, 256> DEFAULT_PALETTE_256 = build_default_palette();
extern const std::array<uint32_t, 64> EGA_PALETTE_64 = build_ega_palette();

void fill_palette(uint32_t* palette, PaletteFill fill) {
    const uint32_t* source = screen_state.default_palette_256;
    switch (fill) {
    case PaletteFill::none: break;
    case PaletteFill::first16: std::memcpy(palette, source, 16 * sizeof(uint32_t)); break;
    case PaletteFill::all256: std::memcpy(palette, source, 256 * sizeof(uint32_t)); break;
    case PaletteFill::cga4:
        palette[0] = source[0], palette[1] = source[3], palette[2] = source[5];
        palette[3] = source[7];
        break;
    case PaletteFill::mono: // both transparent: the pixel bits are the colour
        palette[0] = 0x00000000u, palette[1] = 0x00FFFFFFu;
        break;
    case PaletteFill::ega16: {
        constexpr int ENTRIES[16] = {0, 1, 2, 3, 4, 5, 20, 7, 56, 57, 58, 59, 60, 61, 62, 63};
        for (int i = 0; i < 16; ++i) palette[i] = screen_state.ega_palette_64[ENTRIES[i]];
        break;
    }
    case PaletteFill::pair_selectors: // which colour pair each of entries 0-3 blinks between
        palette[4] = 0, palette[5] = 4, palette[6] = 6, palette[7] = 8;
        break;
    }
}
