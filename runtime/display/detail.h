#pragma once
// The composer's internals shared by its files: compose.cpp (the run and the ring),
// compose_text.cpp (text pages) and compose_graphics.cpp (graphics pages). Not for callers; tests
// may use them.
#include <cstdint>

#include "runtime/display/compose.h"
#include "runtime/screen/image.h"

// The slot after ring_newest with its size set and a buffer of that size (a consumed one of the
// same size recycled, else a new one), not yet published. Ends the process with
// DISPLAY_RING_OVERFLOW_EXIT when that slot still owns a buffer.
int32_t compose_take_slot(int32_t width, int32_t height);
// Publishes a filled slot as the newest frame and marks the composer's copies valid; the caller
// has brought them up to date with the slot's pixels.
void compose_publish(int32_t slot);

// Everything about a page that one text run needs, read once.
struct TextPage {
    const ScreenImage* image;
    int32_t columns;
    int32_t rows;
    int32_t font;
    int32_t cell_width;
    int32_t cell_height;
};

// Composes a text page into the next slot when its pixels would differ from the newest frame's.
// True when a frame was published. The caller has checked the page and the ring as for
// compose_graphics; `frame_width` and `frame_height` are the page's size in pixels.
bool compose_text(const TextPage& page, int32_t frame_width, int32_t frame_height);

// Composes a graphics page (one byte a pixel with 1, 2, 4 or 8 bits, or 32-bit pixels) into the
// next slot when it changed since the newest frame. True when a frame was published. The caller
// has checked that the page has pixels and a frame size the ring can hold, and that the ring has
// room.
bool compose_graphics(const ScreenImage& image);

// The colour pairs of a monochrome mode-10 page: the page's palette entries 4 to 7 name one pair
// each for entries 0 to 3, and the composer shows the first colour of the pair while bit 9 of the
// millisecond clock is 0 and the second while it is 1 (a 512 ms blink phase).
constexpr int32_t MODE10_PAIRS = 9;
constexpr uint32_t MODE10_BLACK = 0xFF000000u;
constexpr uint32_t MODE10_GREY = 0xFF808080u;
constexpr uint32_t MODE10_WHITE = 0xFFFFFFFFu;
constexpr uint32_t MODE10_PAIR_COLOURS[MODE10_PAIRS][2] = {
    {MODE10_BLACK, MODE10_BLACK}, {MODE10_BLACK, MODE10_GREY}, {MODE10_BLACK, MODE10_WHITE},
    {MODE10_GREY, MODE10_BLACK},  {MODE10_GREY, MODE10_GREY},  {MODE10_GREY, MODE10_WHITE},
    {MODE10_WHITE, MODE10_BLACK}, {MODE10_WHITE, MODE10_GREY}, {MODE10_WHITE, MODE10_WHITE},
};
// Blink phase (0 or 1) of mode-10 pages at a time of the millisecond clock.
constexpr int32_t mode10_phase(int64_t clock_ms) {
    return int32_t((clock_ms >> 9) & 1);
}
