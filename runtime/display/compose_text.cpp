// Text pages in the frame composer: each cell drawn from the font in its attribute's colours,
// with the blink phase and the cursor, and a recycled frame buffer brought up to date by drawing
// only the cells that differ from what it shows.
#include <array>
#include <cstring>

#include "runtime/display/detail.h"
#include "runtime/display/font.h"

namespace {

// Attribute byte of a text cell:
//   bits 0-3  foreground palette index
//   bits 4-6  background palette index
//   bit  7    blink (the character shows in its background colour in the second blink phase)
constexpr uint8_t ATTRIBUTE_BLINK = 0x80;

// Rows [first, last] of a cell `cell_height` rows high that a cursor with scan lines
// start..end covers; false when it covers none. Scan lines are given as for the PC's classic
// character box: shapes anchored at the top keep their row numbers in any cell height, the
// underline shapes stay at the bottom, and shapes reaching far down fill to the bottom.
bool cursor_rows(int32_t start, int32_t end, int32_t cell_height, int32_t& first, int32_t& last) {
    // Bottom-anchored shapes count up from the last row, except that a 16-row cell keeps its
    // last row free as the PC's underline cursor did (row 14 is the underline row there).
    int32_t bottom = cell_height == 16 ? 14 : cell_height - 1;
    auto from_bottom = [&](int32_t count) {
        first = bottom - count + 1;
        last = bottom;
    };
    auto rows = [&](int32_t from, int32_t to) {
        first = from;
        last = to;
    };
    if (end == 0) {
        if (start != 0) return false;
        rows(0, 0);
    } else if (end < start) {
        rows(end, cell_height - 1);
    } else if (start == end) {
        if (start <= 3)
            rows(start, start);
        else
            from_bottom(1);
    } else if (start >= 3) {
        int32_t span = end - start;
        if (span == 1)
            from_bottom(2);
        else if (span == 2)
            from_bottom(3);
        else
            rows(cell_height - cell_height / 2, cell_height - 1);
    } else if (start <= 1) {
        rows(start, end <= 3 ? end : cell_height - 1);
    } else if (end == 3) { // start 2
        rows(2, 3);
    } else if (end == 4) {
        from_bottom(3);
    } else {
        rows(2, cell_height - 1);
    }
    if (first < 0) first = 0;
    if (last > cell_height - 1) last = cell_height - 1;
    return first <= last;
}

// Draws one cell (and the cursor over it) into `pixels`, `stride` pixels a row.
void draw_cell(uint32_t* pixels, int32_t stride, const TextPage& page,
               const std::array<uint32_t, 256>& palette, int32_t column, int32_t row,
               uint8_t character, uint8_t attribute, int32_t blink_phase, bool cursor_here,
               int32_t cursor_first, int32_t cursor_last) {
    int32_t foreground_index = attribute & 15;
    int32_t background_index = (attribute >> 4) & 7;
    uint32_t background = palette[size_t(background_index)];
    uint32_t foreground = (attribute & ATTRIBUTE_BLINK) && blink_phase
                              ? background
                              : palette[size_t(foreground_index)];
    const uint8_t* glyph = font_glyph(page.font, character);
    bool wide = page.cell_width == 2 * FONT_GLYPH_WIDTH;
    uint32_t* origin = pixels + size_t(row) * size_t(page.cell_height) * size_t(stride) +
                       size_t(column) * size_t(page.cell_width);
    for (int32_t y = 0; y < page.cell_height; ++y) {
        uint32_t* out = origin + size_t(y) * size_t(stride);
        const uint8_t* bits = glyph + size_t(y) * FONT_GLYPH_WIDTH;
        if (cursor_here && y >= cursor_first && y <= cursor_last) {
            // The cursor is drawn in the undimmed foreground, so it shows over a blinking cell
            // in either blink phase.
            uint32_t colour = palette[size_t(foreground_index)];
            for (int32_t x = 0; x < page.cell_width; ++x) out[x] = colour;
        } else if (wide) {
            for (int32_t x = 0; x < FONT_GLYPH_WIDTH; ++x) {
                uint32_t colour = bits[x] ? foreground : background;
                out[2 * x] = colour;
                out[2 * x + 1] = colour;
            }
        } else {
            for (int32_t x = 0; x < FONT_GLYPH_WIDTH; ++x)
                out[x] = bits[x] ? foreground : background;
        }
    }
}

// The state of the page as this run sees it: one snapshot of the cells and palette, so that what
// is compared is exactly what is drawn and remembered even while the program thread keeps
// printing, and the cursor and blink phase.
struct TextLook {
    const uint8_t* cells = nullptr;
    size_t cell_bytes = 0;
    bool any_blinking = false;
    std::array<uint32_t, 256> palette{};
    int32_t blink_phase = 0;
    int32_t cursor_drawn = 0;
    int32_t cursor_column = -1;
    int32_t cursor_row = -1;
    int32_t cursor_first = 0;
    int32_t cursor_last = -1;
};

// Whether `shows` has the page's geometry, font and palette, so that its pixels can be brought up
// to date cell by cell.
bool same_frame_kind(const FrameShows& shows, const TextPage& page, const TextLook& look) {
    return shows.text && shows.columns == page.columns && shows.rows == page.rows &&
           shows.font == page.font && shows.cells.size() == look.cell_bytes &&
           std::memcmp(shows.palette.data(), look.palette.data(), sizeof look.palette) == 0;
}

bool cursor_differs(const FrameShows& shows, const TextLook& look) {
    if (look.cursor_drawn != shows.cursor_drawn) return true;
    return look.cursor_drawn &&
           (look.cursor_column != shows.cursor_column || look.cursor_row != shows.cursor_row ||
            look.cursor_first != shows.cursor_first || look.cursor_last != shows.cursor_last);
}

// Whether a frame showing `shows` (of the same kind) has exactly the pixels of `look`. A phase
// flip matters only where something shows it: a blinking cell, or the cursor.
bool shows_look(const FrameShows& shows, const TextLook& look) {
    return std::memcmp(shows.cells.data(), look.cells, look.cell_bytes) == 0 &&
           !(look.any_blinking && look.blink_phase != shows.blink_phase) &&
           !cursor_differs(shows, look);
}

// Draws into `pixels`, which show `shows`, every cell whose pixels differ from `look` (every cell
// when `full`), and makes `shows` describe the result. Returns the number of cells drawn.
int32_t draw_changes(uint32_t* pixels, int32_t stride, const TextPage& page, const TextLook& look,
                     FrameShows& shows, bool full) {
    bool blink_flip = look.blink_phase != shows.blink_phase;
    bool cursor_changed = cursor_differs(shows, look);
    const uint8_t* old = shows.cells.data();
    size_t row_bytes = size_t(page.columns) * 2;
    int32_t drawn = 0;
    for (int32_t row = 0; row < page.rows; ++row) {
        size_t row_start = size_t(row) * row_bytes;
        bool cursor_row = cursor_changed && (row == look.cursor_row || row == shows.cursor_row);
        // Most rows of an incremental run are unchanged: one comparison skips them.
        if (!full && !blink_flip && !cursor_row &&
            std::memcmp(look.cells + row_start, old + row_start, row_bytes) == 0)
            continue;
        for (int32_t column = 0; column < page.columns; ++column) {
            size_t i = row_start + size_t(column) * 2;
            uint8_t character = look.cells[i];
            uint8_t attribute = look.cells[i + 1];
            bool at_cursor = column == look.cursor_column && row == look.cursor_row;
            if (!full && character == old[i] && attribute == old[i + 1] &&
                !(blink_flip && (attribute & ATTRIBUTE_BLINK))) {
                bool at_old_cursor = column == shows.cursor_column && row == shows.cursor_row;
                if (!cursor_changed || !(at_cursor || at_old_cursor)) continue;
            }
            draw_cell(pixels, stride, page, look.palette, column, row, character, attribute,
                      look.blink_phase, at_cursor && look.cursor_drawn, look.cursor_first,
                      look.cursor_last);
            ++drawn;
        }
    }
    shows.text = true;
    shows.columns = page.columns;
    shows.rows = page.rows;
    shows.font = page.font;
    shows.cells.assign(look.cells, look.cells + look.cell_bytes);
    shows.palette = look.palette;
    shows.blink_phase = look.blink_phase;
    shows.cursor_drawn = look.cursor_drawn;
    shows.cursor_column = look.cursor_column;
    shows.cursor_row = look.cursor_row;
    shows.cursor_first = look.cursor_first;
    shows.cursor_last = look.cursor_last;
    return drawn;
}

} // namespace

// Composes a text page into the next slot when its pixels would differ from the newest frame's.
// The slot's buffer, when recycled, still holds an older frame: only the cells that differ from
// what it shows are drawn, so the cost follows what changed. Returns true when a frame was
// composed and published.
bool compose_text(const TextPage& page, int32_t frame_width, int32_t frame_height) {
    ComposerState& state = composer_state;
    const ScreenImage& image = *page.image;
    // Relaxed: a change of compose_previous_valid by screen_lock_acquire is ordered before this
    // run by the acquire load of screen_lock == 0 at the start of the run. Cleared, it asks for a
    // full composition: the page's structure changed.
    bool valid = compose_previous_valid.load(std::memory_order_relaxed) != 0;

    TextLook look;
    look.cell_bytes = size_t(page.columns) * size_t(page.rows) * 2;
    state.current.resize(look.cell_bytes);
    uint8_t* current = state.current.data();
    // The attributes' bits gathered in a local: kept in a register, not a store per cell.
    uint8_t attribute_bits = 0;
    for (size_t i = 0; i < look.cell_bytes; i += 2) {
        current[i] = image_cell_load(image, uint32_t(i));
        uint8_t attribute = image_cell_load(image, uint32_t(i + 1));
        current[i + 1] = attribute;
        attribute_bits |= attribute;
    }
    look.any_blinking = (attribute_bits & ATTRIBUTE_BLINK) != 0;
    look.cells = current;
    for (int32_t i = 0; i < 256; ++i) look.palette[size_t(i)] = image_palette_load(image, i);

    look.blink_phase = (compose_tick_count.load(std::memory_order_relaxed) & 8) != 0;
    int32_t cursor_column = image.cursor_x - 1;
    int32_t cursor_row = image.cursor_y - 1;
    if (image.pending_wrap == 2 && cursor_row < page.rows - 1) {
        ++cursor_row;
        cursor_column = 0;
    }
    bool cursor_inside = cursor_column >= 0 && cursor_column < page.columns && cursor_row >= 0 &&
                         cursor_row < page.rows;
    if (image.cursor_visible && look.blink_phase && cursor_inside &&
        cursor_rows(image.cursor_start, image.cursor_end, page.cell_height, look.cursor_first,
                    look.cursor_last)) {
        look.cursor_drawn = 1;
        look.cursor_column = cursor_column;
        look.cursor_row = cursor_row;
    }

    int32_t newest = compose_ring.ring_newest.load(std::memory_order_relaxed);
    const DisplayFrame* newest_frame = newest != 0 ? &compose_ring.slots[size_t(newest)] : nullptr;
    bool newest_usable = valid && newest_frame != nullptr && newest_frame->pixels != nullptr &&
                         newest_frame->width == frame_width &&
                         newest_frame->height == frame_height &&
                         same_frame_kind(state.shows[size_t(newest)], page, look);
    // Nothing visible changed: no frame, and an idle screen costs one comparison per run.
    if (newest_usable && shows_look(state.shows[size_t(newest)], look)) return false;

    int32_t slot = compose_take_slot(frame_width, frame_height);
    DisplayFrame& frame = compose_ring.slots[size_t(slot)];
    FrameShows& shows = state.shows[size_t(slot)];
    bool full = !valid;
    if (!full && !same_frame_kind(shows, page, look)) {
        if (newest_usable) {
            // A fresh buffer: start from the newest frame, whose pixels differ least.
            std::memcpy(frame.pixels, newest_frame->pixels, size_t(frame.byte_size));
            shows = state.shows[size_t(newest)];
        } else {
            full = true;
        }
    }
    state.cells_drawn = draw_changes(frame.pixels, frame_width, page, look, shows, full);
    state.previous_bits = 0; // the newest frame shows a text page
    compose_publish(slot);
    return true;
}
