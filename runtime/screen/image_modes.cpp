// The table of screen and image modes: depth, font, colours, palette and, for the classic
// graphics modes, their screen size and page count.
#include "runtime/screen/detail.h"

static constexpr ModeDefaults MODES[] = {
    {0, 16, 2, 16, 7, 0, PaletteFill::first16, 0, 0, TEXT_SCREEN_PAGES},
    {1, 2, 1, 8, 3, 0, PaletteFill::cga4, 320, 200, 1},
    {2, 1, 1, 8, 1, 0, PaletteFill::mono, 640, 200, 1},
    {7, 4, 1, 8, 15, 0, PaletteFill::first16, 320, 200, 8},
    {8, 4, 1, 8, 15, 0, PaletteFill::first16, 640, 200, 4},
    {9, 4, 1, 14, 15, 0, PaletteFill::ega16, 640, 350, 2},
    {10, 2, 1, 14, 3, 0, PaletteFill::pair_selectors, 640, 350, 2},
    {11, 1, 1, 16, 1, 0, PaletteFill::mono, 640, 480, 1},
    {12, 4, 1, 16, 15, 0, PaletteFill::first16, 640, 480, 1},
    {13, 8, 1, 8, 15, 0, PaletteFill::all256, 320, 200, 1},
    {32, 32, 4, 16, 0xFFFFFFFFu, 0xFF000000u, PaletteFill::none, 0, 0, 0},
    {256, 8, 1, 16, 15, 0, PaletteFill::all256, 0, 0, 0},
};

const ModeDefaults* mode_defaults(int32_t mode) {
    for (const ModeDefaults& entry : MODES)
        if (entry.mode == mode) return &entry;
    return nullptr;
}

bool image_mode_known(int32_t mode) {
    return mode_defaults(mode) != nullptr;
}
