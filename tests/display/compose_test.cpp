#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "display/compose_fixture.h"
#include "runtime/base/run_state.h"
#include "runtime/display/compose.h"
#include "runtime/display/display.h"
#include "runtime/display/font.h"
#include "runtime/memory/conv.h"
#include "runtime/platform/platform.h"
#include "runtime/screen/image.h"
#include "support/reference.h"

// The ring-overflow death test ends its child through exit(), whose static destructors free the
// image table while the pages' palettes are still owned by it; the leak checker of the sanitizer
// build would then report them and change the exit status. The child turns the check off.
namespace {
std::atomic<int> leak_check_off{0};
}
extern "C" int __lsan_is_turned_off() {
    return leak_check_off.load();
}

namespace {

// ---------------------------------------------------------------------------------------------
// Fixture: a fresh start-up text screen (80 x 25, font 16, in the emulated video memory), fresh
// fonts and an empty ring; no display thread.
// ---------------------------------------------------------------------------------------------

// The text colours as the window shows them, 0xAARRGGBB.
constexpr uint32_t BLACK = 0xFF000000, BLUE = 0xFF0000AA, RED = 0xFFAA0000, LIGHT_GREY = 0xFFAAAAAA,
                   YELLOW = 0xFFFFFF55, WHITE = 0xFFFFFFFF, LIGHT_CYAN = 0xFF55FFFF,
                   GREEN = 0xFF00AA00;
constexpr uint32_t POISON = 0x12345678;

class Compose : public ComposeTest {
  protected:
    // 1-based column and row, as the program sees them.
    static void put(int32_t column, int32_t row, uint8_t character, uint8_t attribute) {
        uint32_t offset = (uint32_t(row - 1) * page().width + uint32_t(column - 1)) * 2;
        image_cell_store(page(), offset, character);
        image_cell_store(page(), offset + 1, attribute);
    }
    static void set_phase(int32_t phase) { compose_tick_count.store(phase ? 8 : 0); }
    static void set_cursor(int32_t column, int32_t row, int32_t visible, int32_t start,
                           int32_t end) {
        page().cursor_x = int16_t(column);
        page().cursor_y = int16_t(row);
        page().cursor_visible = uint8_t(visible);
        page().cursor_start = uint8_t(start);
        page().cursor_end = uint8_t(end);
    }
    static void poison(const DisplayFrame& f) {
        for (int32_t i = 0; i < f.width * f.height; ++i) f.pixels[i] = POISON;
    }
    // The glyph pixel (x, y) of `character` in a font, from the generated constant tables.
    static bool glyph_pixel(int32_t font, uint8_t character, int32_t x, int32_t y) {
        if (font == 9 || font == 15 || font == 17) x /= 2;
        if (font == 8 || font == 9) return FONT_8X8[(character * 8 + y) * 8 + x] != 0;
        if (font == 14 || font == 15) return FONT_8X16[(character * 16 + y + 1) * 8 + x] != 0;
        return FONT_8X16[(character * 16 + y) * 8 + x] != 0;
    }
    // Checks every pixel of the cell at 0-based (column, row): glyph in `foreground`, the rest in
    // `background`, except rows [cursor_first, cursor_last] which must be solid `cursor`.
    static void expect_cell(const DisplayFrame& f, int32_t column, int32_t row, uint8_t character,
                            uint32_t foreground, uint32_t background, int32_t cursor_first = 1,
                            int32_t cursor_last = 0, uint32_t cursor = 0) {
        int32_t font = page().font;
        int32_t width = font_cell_width(font), height = font_cell_height(font);
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x) {
                uint32_t expected = y >= cursor_first && y <= cursor_last ? cursor
                                    : glyph_pixel(font, character, x, y)  ? foreground
                                                                          : background;
                ASSERT_EQ(at(f, column * width + x, row * height + y), expected)
                    << "cell (" << column << ", " << row << ") pixel (" << x << ", " << y << ")";
            }
    }
    // Rows of the cell at 0-based (column, row) that are solid `colour`.
    static std::vector<int32_t> solid_rows(const DisplayFrame& f, int32_t column, int32_t row,
                                           uint32_t colour) {
        int32_t width = font_cell_width(page().font), height = font_cell_height(page().font);
        std::vector<int32_t> rows;
        for (int32_t y = 0; y < height; ++y) {
            bool solid = true;
            for (int32_t x = 0; x < width; ++x)
                solid &= at(f, column * width + x, row * height + y) == colour;
            if (solid) rows.push_back(y);
        }
        return rows;
    }
    static size_t count_colour(const DisplayFrame& f, uint32_t colour) {
        size_t n = 0;
        for (int32_t i = 0; i < f.width * f.height; ++i) n += f.pixels[i] == colour;
        return n;
    }
};

using ComposeFrame = Compose;
using ComposeChanges = Compose;
using ComposePhases = Compose;
using ComposeCursor = Compose;
using ComposeControl = Compose;
using ComposeRing = Compose;
using ComposeReference = Compose;
using ComposeThreads = Compose;

std::vector<int32_t> range(int32_t first, int32_t last) {
    std::vector<int32_t> out;
    for (int32_t i = first; i <= last; ++i) out.push_back(i);
    return out;
}

// --- Frame size and first frame --------------------------------------------------------------

TEST_F(ComposeFrame, frame_size_follows_the_font) {
    struct Case {
        int32_t font, width, height;
    };
    for (Case c : {Case{16, 640, 400}, Case{8, 640, 200}, Case{14, 640, 350}, Case{17, 1280, 400},
                   Case{9, 1280, 200}, Case{15, 1280, 350}}) {
        image_set_font(c.font, &page());
        ASSERT_TRUE(compose()) << c.font;
        EXPECT_EQ(frame().width, c.width) << c.font;
        EXPECT_EQ(frame().height, c.height) << c.font;
        EXPECT_EQ(frame().byte_size, c.width * c.height * 4) << c.font;
        // A new geometry is drawn from scratch, never over the previous frame.
        EXPECT_EQ(composer_state.cells_drawn, 2000) << c.font;
        EXPECT_EQ(count_colour(frame(), BLACK), size_t(c.width * c.height)) << c.font;
        present();
    }
}

TEST_F(ComposeFrame, first_frame_fills_the_ring_indices_and_draws_every_cell) {
    EXPECT_EQ(compose_ring_latest(), nullptr);
    put(1, 1, 'A', 0x07);
    ASSERT_TRUE(compose());
    EXPECT_EQ(compose_ring.ring_oldest.load(), 1);
    EXPECT_EQ(compose_ring.ring_newest.load(), 1);
    EXPECT_EQ(composer_state.cells_drawn, 2000);
    EXPECT_EQ(compose_previous_valid.load(), 1);
    EXPECT_EQ(frame().consumed.load(), 0);
    EXPECT_EQ(frame().presented.load(), 0);
    expect_cell(frame(), 0, 0, 'A', LIGHT_GREY, BLACK);
    expect_cell(frame(), 1, 0, ' ', LIGHT_GREY, BLACK);
}

TEST_F(ComposeFrame, cells_are_drawn_in_palette_colours) {
    put(3, 2, 'A', 0x1E); // yellow on blue
    put(4, 2, 219, 0x4F); // white full block on red
    put(5, 2, 'g', 0x7B); // light cyan on light grey
    put(80, 25, 'Z', 0x0F);
    ASSERT_TRUE(compose());
    expect_cell(frame(), 2, 1, 'A', YELLOW, BLUE);
    expect_cell(frame(), 3, 1, 219, WHITE, RED);
    expect_cell(frame(), 4, 1, 'g', LIGHT_CYAN, LIGHT_GREY);
    expect_cell(frame(), 79, 24, 'Z', WHITE, BLACK);
    // Spot checks independent of the glyph table: the full block is solid, and the top-left
    // pixel of 'A' (a VGA glyph leaves the top rows empty) is background.
    EXPECT_EQ(at(frame(), 3 * 8, 16), WHITE);
    EXPECT_EQ(at(frame(), 3 * 8 + 7, 16 + 15), WHITE);
    EXPECT_EQ(at(frame(), 2 * 8, 16), BLUE);
}

TEST_F(ComposeFrame, palette_entries_are_the_pages_not_the_defaults) {
    image_palette_store(page(), 1, 0xFF102030);
    put(1, 1, 219, 0x01);
    ASSERT_TRUE(compose());
    expect_cell(frame(), 0, 0, 219, 0xFF102030, BLACK);
}

TEST_F(ComposeFrame, wide_and_short_fonts_draw_their_glyphs) {
    for (int32_t font : {8, 9, 14, 15, 17}) {
        image_set_font(font, &page());
        put(2, 3, 'W', 0x1E);
        put(3, 3, 1, 0x2F);
        ASSERT_TRUE(compose()) << font;
        SCOPED_TRACE(font);
        expect_cell(frame(), 1, 2, 'W', YELLOW, BLUE);
        expect_cell(frame(), 2, 2, 1, WHITE, GREEN);
        present();
    }
}

// --- Change detection --------------------------------------------------------------------------

TEST_F(ComposeChanges, nothing_changed_gives_no_frame) {
    put(10, 10, 'x', 0x07);
    ASSERT_TRUE(compose());
    present();
    int32_t slot = newest();
    for (int run = 0; run < 5; ++run) EXPECT_FALSE(compose());
    EXPECT_EQ(newest(), slot);
    // The presenter sees the same frame, already drawn.
    const DisplayFrame* latest = compose_ring_latest();
    ASSERT_NE(latest, nullptr);
    EXPECT_EQ(latest, &compose_ring.slots[size_t(slot)]);
    EXPECT_EQ(latest->presented.load(), 1);
}

TEST_F(ComposeChanges, writing_the_same_cell_again_gives_no_frame) {
    put(10, 10, 'x', 0x07);
    ASSERT_TRUE(compose());
    put(10, 10, 'x', 0x07);
    EXPECT_FALSE(compose());
    put(10, 10, 'x', 0x17);
    EXPECT_TRUE(compose());
}

TEST_F(ComposeChanges, only_changed_cells_are_redrawn) {
    ASSERT_TRUE(compose());
    // Poison the previous frame: the new one starts as its copy, so every pixel a run does not
    // redraw keeps the poison.
    poison(frame());
    put(7, 4, 'Q', 0x1E);
    put(80, 25, 219, 0x04);
    ASSERT_TRUE(compose());
    EXPECT_EQ(composer_state.cells_drawn, 2);
    expect_cell(frame(), 6, 3, 'Q', YELLOW, BLUE);
    expect_cell(frame(), 79, 24, 219, RED, BLACK);
    EXPECT_EQ(count_colour(frame(), POISON), size_t(640 * 400 - 2 * 8 * 16));
}

TEST_F(ComposeChanges, palette_change_redraws_everything) {
    put(1, 1, 'A', 0x07);
    ASSERT_TRUE(compose());
    present();
    poison(frame());
    image_palette_store(page(), 0, 0xFF203040);
    ASSERT_TRUE(compose());
    EXPECT_EQ(composer_state.cells_drawn, 2000);
    EXPECT_EQ(count_colour(frame(), POISON), 0u);
    expect_cell(frame(), 0, 0, 'A', LIGHT_GREY, 0xFF203040);
    expect_cell(frame(), 40, 12, ' ', LIGHT_GREY, 0xFF203040);
    // A palette entry no cell uses is still a change of the page's colours.
    present();
    image_palette_store(page(), 200, 0xFF010203);
    EXPECT_TRUE(compose());
}

TEST_F(ComposeChanges, screen_lock_invalidates_the_previous_frame) {
    ASSERT_TRUE(compose());
    present();
    poison(frame());
    // Without a display thread the lock is not handed over, but the composer still forgets.
    screen_lock_acquire();
    screen_lock_release();
    EXPECT_EQ(compose_previous_valid.load(), 0);
    ASSERT_TRUE(compose());
    EXPECT_EQ(composer_state.cells_drawn, 2000);
    EXPECT_EQ(count_colour(frame(), POISON), 0u);
}

TEST_F(ComposeChanges, another_display_page_of_the_same_size_is_compared_cell_by_cell) {
    ASSERT_TRUE(compose());
    present();
    // Page 1 holds different cells; switching pages takes no lock.
    conv_store8(TEXT_VIDEO_BASE + 4096 + 2 * 81, 'P');
    conv_store8(TEXT_VIDEO_BASE + 4096 + 2 * 81 + 1, 0x1F);
    screen_mode(0, 0, 1, SCREEN_DISPLAY_PAGE_GIVEN);
    ASSERT_EQ(screen_display_page()->pixels.load(), conv_memory + TEXT_VIDEO_BASE + 4096);
    ASSERT_TRUE(compose());
    EXPECT_EQ(composer_state.cells_drawn, 1);
    expect_cell(frame(), 1, 1, 'P', WHITE, BLUE);
}

// --- Blink and cursor phases -------------------------------------------------------------------

TEST_F(ComposePhases, blinking_character_shows_in_phase_0_and_hides_in_phase_1) {
    put(5, 5, 'B', 0x9E); // blink, yellow on blue
    put(6, 5, 'C', 0x1E); // same colours, no blink
    set_phase(0);
    ASSERT_TRUE(compose());
    present();
    expect_cell(frame(), 4, 4, 'B', YELLOW, BLUE);
    poison(frame());
    set_phase(1);
    ASSERT_TRUE(compose());
    EXPECT_EQ(composer_state.cells_drawn, 1); // only the blinking cell
    expect_cell(frame(), 4, 4, 'B', BLUE, BLUE);
    EXPECT_EQ(at(frame(), 5 * 8, 4 * 16), POISON);
    // The poisoned buffer no longer shows what the composer noted for it; once recycled it
    // must be drawn whole.
    composer_state.shows[size_t(newest() - 1)].text = false;
    present();
    set_phase(0);
    ASSERT_TRUE(compose());
    expect_cell(frame(), 4, 4, 'B', YELLOW, BLUE);
    // compose_tick_count bit 3 is the phase: 7 is still phase 0, 15 phase 1, 16 phase 0 again.
    compose_tick_count.store(7);
    EXPECT_FALSE(compose());
    compose_tick_count.store(15);
    EXPECT_TRUE(compose());
    compose_tick_count.store(16);
    EXPECT_TRUE(compose());
}

TEST_F(ComposePhases, phase_flip_without_blinking_cells_or_cursor_gives_no_frame) {
    put(1, 1, 'A', 0x07);
    set_phase(0);
    ASSERT_TRUE(compose());
    set_phase(1);
    EXPECT_FALSE(compose());
    set_phase(0);
    EXPECT_FALSE(compose());
    // A blinking cell appearing in phase 1 is drawn hidden right away.
    set_phase(1);
    put(2, 1, 'X', 0x87);
    ASSERT_TRUE(compose());
    expect_cell(frame(), 1, 0, 'X', BLACK, BLACK);
}

TEST_F(ComposePhases, cursor_shows_only_in_phase_1_and_only_when_visible) {
    put(3, 2, 'k', 0x1E);
    set_cursor(3, 2, 1, 4, 4);
    set_phase(0);
    ASSERT_TRUE(compose());
    present();
    expect_cell(frame(), 2, 1, 'k', YELLOW, BLUE);
    set_phase(1);
    ASSERT_TRUE(compose());
    present();
    // Start and end 4 in a 16-row cell: the underline row 14, in the foreground colour.
    expect_cell(frame(), 2, 1, 'k', YELLOW, BLUE, 14, 14, YELLOW);
    EXPECT_EQ(composer_state.cells_drawn, 1);
    set_phase(0);
    ASSERT_TRUE(compose());
    present();
    expect_cell(frame(), 2, 1, 'k', YELLOW, BLUE);
    // Hidden cursor: no cursor in phase 1, and no frame for the phase flip.
    page().cursor_visible = 0;
    set_phase(1);
    EXPECT_FALSE(compose());
    expect_cell(frame(), 2, 1, 'k', YELLOW, BLUE);
    // Switching it on shows it at once.
    page().cursor_visible = 1;
    ASSERT_TRUE(compose());
    expect_cell(frame(), 2, 1, 'k', YELLOW, BLUE, 14, 14, YELLOW);
}

TEST_F(ComposePhases, cursor_over_a_hidden_blinking_character_keeps_its_foreground) {
    put(1, 1, 'M', 0x9E);
    set_cursor(1, 1, 1, 0, 1);
    set_phase(1);
    ASSERT_TRUE(compose());
    expect_cell(frame(), 0, 0, 'M', BLUE, BLUE, 0, 1, YELLOW);
}

struct ShapeCase {
    int32_t start, end;
    std::vector<int32_t> rows8, rows14, rows16;
};

TEST_F(ComposeCursor, cursor_shape_rows_for_every_case) {
    const ShapeCase cases[] = {
        {5, 0, {}, {}, {}},                              // end 0, start not 0
        {0, 0, {0}, {0}, {0}},                           // end 0, start 0
        {6, 2, range(2, 7), range(2, 13), range(2, 15)}, // end < start
        {12, 9, {}, range(9, 13), range(9, 15)},         // end < start, below an 8-row cell
        {20, 18, {}, {}, {}},                            // first row below the cell
        {2, 2, {2}, {2}, {2}},                           // start = end <= 3
        {3, 3, {3}, {3}, {3}},
        {4, 4, {7}, {13}, {14}}, // start = end > 3: bottom row
        {31, 31, {7}, {13}, {14}},
        {3, 4, {6, 7}, {12, 13}, {13, 14}}, // bottom two rows
        {6, 7, {6, 7}, {12, 13}, {13, 14}},
        {3, 5, {5, 6, 7}, {11, 12, 13}, {12, 13, 14}},   // bottom three rows
        {3, 7, range(4, 7), range(7, 13), range(8, 15)}, // lower half
        {6, 13, range(4, 7), range(7, 13), range(8, 15)},
        {0, 3, range(0, 3), range(0, 3), range(0, 3)}, // start <= 1, end <= 3
        {1, 2, {1, 2}, {1, 2}, {1, 2}},
        {0, 7, range(0, 7), range(0, 13), range(0, 15)}, // start <= 1, end > 3
        {1, 15, range(1, 7), range(1, 13), range(1, 15)},
        {2, 3, {2, 3}, {2, 3}, {2, 3}},                  // start 2, end 3
        {2, 4, {5, 6, 7}, {11, 12, 13}, {12, 13, 14}},   // start 2, end 4
        {2, 5, range(2, 7), range(2, 13), range(2, 15)}, // start 2, end > 4
        {2, 31, range(2, 7), range(2, 13), range(2, 15)},
    };
    set_phase(1);
    for (int32_t font : {8, 14, 16, 17}) {
        image_set_font(font, &page()); // homes the cursor
        for (const ShapeCase& c : cases) {
            set_cursor(5, 3, 1, c.start, c.end);
            compose();
            present();
            const std::vector<int32_t>& expected = font == 8    ? c.rows8
                                                   : font == 14 ? c.rows14
                                                                : c.rows16;
            EXPECT_EQ(solid_rows(frame(), 4, 2, LIGHT_GREY), expected)
                << "font " << font << " start " << c.start << " end " << c.end;
            // Rows outside the cursor keep the blank cell's background.
            EXPECT_EQ(solid_rows(frame(), 4, 2, BLACK).size() + expected.size(),
                      size_t(font_cell_height(font)));
        }
    }
}

TEST_F(ComposeCursor, cursor_follows_pending_wrap_state_2_only) {
    set_phase(1);
    set_cursor(80, 5, 1, 0, 15);
    page().pending_wrap = 1;
    ASSERT_TRUE(compose());
    present();
    EXPECT_EQ(solid_rows(frame(), 79, 4, LIGHT_GREY).size(), 16u);
    page().pending_wrap = 2;
    ASSERT_TRUE(compose());
    present();
    EXPECT_EQ(composer_state.cells_drawn, 2);
    EXPECT_EQ(solid_rows(frame(), 79, 4, LIGHT_GREY).size(), 0u);
    EXPECT_EQ(solid_rows(frame(), 0, 5, LIGHT_GREY).size(), 16u);
    // On the last row there is no next row: the cursor stays in the last column.
    page().cursor_y = 25;
    ASSERT_TRUE(compose());
    EXPECT_EQ(solid_rows(frame(), 0, 5, LIGHT_GREY).size(), 0u);
    EXPECT_EQ(solid_rows(frame(), 79, 24, LIGHT_GREY).size(), 16u);
}

TEST_F(ComposeCursor, moving_the_cursor_redraws_the_cell_it_left_and_the_one_it_entered) {
    put(1, 1, 'a', 0x07);
    put(2, 1, 'b', 0x07);
    set_cursor(1, 1, 1, 4, 4);
    set_phase(1);
    ASSERT_TRUE(compose());
    present();
    poison(frame());
    page().cursor_x = 2;
    ASSERT_TRUE(compose());
    EXPECT_EQ(composer_state.cells_drawn, 2);
    expect_cell(frame(), 0, 0, 'a', LIGHT_GREY, BLACK);
    expect_cell(frame(), 1, 0, 'b', LIGHT_GREY, BLACK, 14, 14, LIGHT_GREY);
    EXPECT_EQ(at(frame(), 2 * 8, 0), POISON);
    // A cursor shape change alone is a change too.
    present();
    page().cursor_start = 0;
    ASSERT_TRUE(compose());
    EXPECT_EQ(solid_rows(frame(), 1, 0, LIGHT_GREY), range(0, 15));
}

TEST_F(ComposeCursor, cursor_outside_the_page_draws_nothing) {
    set_phase(1);
    set_cursor(81, 1, 1, 0, 15);
    ASSERT_TRUE(compose());
    EXPECT_EQ(count_colour(frame(), LIGHT_GREY), 0u);
    set_cursor(1, 26, 1, 0, 15);
    compose();
    EXPECT_EQ(count_colour(frame(), LIGHT_GREY), 0u);
}

// --- Control words ---------------------------------------------------------------------------

TEST_F(ComposeControl, hidden_window_gives_no_frame_but_completes_the_run) {
    window_hidden.store(1);
    put(1, 1, 'A', 0x07);
    EXPECT_FALSE(compose());
    EXPECT_EQ(compose_ring.ring_oldest.load(), 0);
    display_auto.store(-1);
    display_compose();
    EXPECT_EQ(display_auto.load(), 0); // a waiting display_now is released
    window_hidden.store(0);
    EXPECT_TRUE(compose());
}

TEST_F(ComposeControl, requested_screen_lock_is_granted_and_blocks_composition) {
    screen_lock.store(1);
    put(1, 1, 'A', 0x07);
    EXPECT_FALSE(compose());
    EXPECT_EQ(screen_lock.load(), 2);
    EXPECT_FALSE(compose()); // still held
    screen_lock.store(0);
    EXPECT_TRUE(compose());
}

TEST_F(ComposeControl, display_auto_minus_1_turns_to_0_after_a_run) {
    display_auto.store(-1);
    EXPECT_TRUE(compose());
    EXPECT_EQ(display_auto.load(), 0);
    // Runs while it is 0 or 1 leave it alone.
    compose();
    EXPECT_EQ(display_auto.load(), 0);
    display_auto_on();
    compose();
    EXPECT_EQ(display_auto.load(), 1);
}

TEST_F(ComposeControl, display_now_without_display_thread_composes_here) {
    put(1, 1, 'N', 0x07);
    display_now();
    EXPECT_EQ(display_auto.load(), 0);
    ASSERT_EQ(newest(), 1);
    expect_cell(frame(), 0, 0, 'N', LIGHT_GREY, BLACK);
    put(1, 1, 'O', 0x07);
    display_wait_frame();
    EXPECT_EQ(newest(), 2);
    expect_cell(frame(), 0, 0, 'O', LIGHT_GREY, BLACK);
}

TEST_F(ComposeControl, display_tick_counts_frames_even_without_composing) {
    display_auto.store(0);
    put(1, 1, 'A', 0x07);
    for (int i = 0; i < 3; ++i) display_tick();
    EXPECT_EQ(compose_tick_count.load(), 3);
    EXPECT_EQ(newest(), 0);
    display_auto_on();
    display_tick();
    EXPECT_EQ(compose_tick_count.load(), 4);
    EXPECT_EQ(newest(), 1);
}

TEST_F(ComposeFrame, unknown_font_pages_give_no_frame) {
    image_set_font(40, &page()); // a loaded font: no built-in glyphs
    EXPECT_FALSE(compose());
    EXPECT_EQ(compose_done.load(), 1);
    image_set_font(16, &page());
    EXPECT_TRUE(compose());
}

// --- The ring ----------------------------------------------------------------------------------

TEST_F(ComposeRing, presenter_sees_newest_and_marks_older_consumed) {
    EXPECT_EQ(compose_ring_latest(), nullptr);
    for (int i = 0; i < 3; ++i) {
        put(1, 1, uint8_t('a' + i), 0x07);
        ASSERT_TRUE(compose());
    }
    const DisplayFrame* latest = compose_ring_latest();
    ASSERT_EQ(latest, &compose_ring.slots[3]);
    EXPECT_EQ(compose_ring.slots[1].consumed.load(), 1);
    EXPECT_EQ(compose_ring.slots[2].consumed.load(), 1);
    EXPECT_EQ(compose_ring.slots[3].consumed.load(), 0);
    EXPECT_EQ(latest->presented.load(), 0);
    compose_ring_mark_presented(latest);
    EXPECT_EQ(latest->presented.load(), 1);
    // A frame composed while the presenter drew is left alone; the drawn one becomes consumed.
    put(1, 1, 'z', 0x07);
    ASSERT_TRUE(compose());
    compose_ring_consume_older();
    EXPECT_EQ(compose_ring.slots[3].consumed.load(), 1);
    EXPECT_EQ(compose_ring.slots[4].consumed.load(), 0);
    EXPECT_EQ(compose_ring.slots[4].presented.load(), 0);
}

TEST_F(ComposeRing, consumed_frames_are_freed_or_recycled_but_the_newest_four_kept) {
    for (int i = 0; i < 10; ++i) {
        put(1, 1, uint8_t('a' + i), 0x07);
        ASSERT_TRUE(compose());
    }
    EXPECT_EQ(compose_ring.ring_oldest.load(), 1);
    compose_ring_latest(); // consumes 1 to 9
    uint32_t* buffer7 = compose_ring.slots[7].pixels;
    put(1, 1, 'k', 0x07);
    ASSERT_TRUE(compose());
    // Slots 1-6 freed (7-10 are the newest four), then slot 7's buffer moved into slot 11.
    for (int s = 1; s <= 7; ++s) EXPECT_EQ(compose_ring.slots[size_t(s)].pixels, nullptr) << s;
    EXPECT_EQ(compose_ring.ring_oldest.load(), 8);
    EXPECT_EQ(newest(), 11);
    EXPECT_EQ(frame().pixels, buffer7);
    for (int s = 8; s <= 11; ++s) EXPECT_NE(compose_ring.slots[size_t(s)].pixels, nullptr) << s;
    expect_cell(frame(), 0, 0, 'k', LIGHT_GREY, BLACK);
    EXPECT_EQ(composer_state.cells_drawn, 1);
}

TEST_F(ComposeRing, unconsumed_frames_are_never_recycled) {
    for (int i = 0; i < 6; ++i) {
        put(1, 1, uint8_t('a' + i), 0x07);
        ASSERT_TRUE(compose());
    }
    std::vector<uint32_t*> buffers;
    for (int s = 1; s <= 6; ++s) buffers.push_back(compose_ring.slots[size_t(s)].pixels);
    put(1, 1, 'q', 0x07);
    ASSERT_TRUE(compose());
    EXPECT_EQ(compose_ring.ring_oldest.load(), 1);
    for (int s = 1; s <= 6; ++s)
        EXPECT_EQ(compose_ring.slots[size_t(s)].pixels, buffers[size_t(s - 1)]);
}

TEST_F(ComposeRing, full_ring_composes_nothing_until_the_presenter_catches_up) {
    for (int i = 0; i < COMPOSE_RING_SLOTS; ++i) {
        put(1, 1, uint8_t(i), 0x07);
        ASSERT_TRUE(compose()) << i;
    }
    EXPECT_EQ(compose_ring.ring_oldest.load(), 1);
    EXPECT_EQ(newest(), 64);
    put(1, 1, 'X', 0x07);
    EXPECT_FALSE(compose()); // compose() also checks compose_done
    EXPECT_EQ(newest(), 64);
    compose_ring_latest();
    ASSERT_TRUE(compose());
    EXPECT_EQ(newest(), 1); // wrapped around
    expect_cell(frame(), 0, 0, 'X', LIGHT_GREY, BLACK);
    EXPECT_EQ(compose_ring.ring_oldest.load(), 62); // 1-60 freed, 61 recycled into slot 1
}

TEST_F(ComposeRing, wrap_around_over_many_frames_stays_consistent) {
    for (int i = 0; i < 3 * COMPOSE_RING_SLOTS + 5; ++i) {
        put(1 + i % 80, 1, uint8_t('A' + i % 26), uint8_t(1 + i % 15));
        ASSERT_TRUE(compose()) << i;
        present();
        int32_t oldest = compose_ring.ring_oldest.load();
        int32_t owning = 0;
        for (int s = 1; s <= COMPOSE_RING_SLOTS; ++s)
            owning += compose_ring.slots[size_t(s)].pixels != nullptr;
        // Only the slots from oldest to newest own buffers, and at most five of them.
        EXPECT_EQ(owning, (newest() - oldest + COMPOSE_RING_SLOTS) % COMPOSE_RING_SLOTS + 1) << i;
        EXPECT_LE(owning, 5) << i;
    }
    expect_cell(frame(), (3 * COMPOSE_RING_SLOTS + 4) % 80, 0,
                uint8_t('A' + (3 * COMPOSE_RING_SLOTS + 4) % 26), GREEN, BLACK);
}

using ComposeDeathTest = Compose;

TEST_F(ComposeDeathTest, ring_slot_owning_a_buffer_ends_the_process_with_9090) {
    ASSERT_TRUE(compose());
    // Slot 2 is outside oldest..newest yet owns a buffer: the bookkeeping is broken.
    compose_ring.slots[2].pixels = new uint32_t[4];
    put(1, 1, 'A', 0x07);
    // Windows reports the whole status; POSIX keeps only its low 8 bits (9090 & 255 = 130).
    auto ring_overflow_status = [](int status) {
        return testing::ExitedWithCode(DISPLAY_RING_OVERFLOW_EXIT)(status) ||
               testing::ExitedWithCode(DISPLAY_RING_OVERFLOW_EXIT & 0xFF)(status);
    };
    EXPECT_EXIT(
        {
            leak_check_off.store(1);
            display_compose();
        },
        ring_overflow_status, "");
    delete[] compose_ring.slots[2].pixels;
    compose_ring.slots[2].pixels = nullptr;
}

// --- Reference images --------------------------------------------------------------------------

// Every character in a spread of attributes, some blinking, and a visible cursor.
void fill_test_pattern(ScreenImage& image) {
    int32_t columns = image.width, rows = image.height;
    for (int32_t row = 0; row < rows; ++row)
        for (int32_t column = 0; column < columns; ++column) {
            int32_t n = row * columns + column;
            uint8_t character = uint8_t(n);
            uint8_t attribute = uint8_t((n / 7 * 0x13 + row) & 0xFF);
            if (row >= 20) attribute = 0x07;
            uint32_t offset = uint32_t(n) * 2;
            image_cell_store(image, offset, character);
            image_cell_store(image, offset + 1, attribute);
        }
    const char* text = "Unveilo composer reference";
    for (int32_t i = 0; text[i] != 0; ++i) {
        uint32_t offset = uint32_t((rows - 2) * columns + 2 + i) * 2;
        image_cell_store(image, offset, uint8_t(text[i]));
        image_cell_store(image, offset + 1, 0x1F);
    }
    image.cursor_x = 30;
    image.cursor_y = int16_t(rows - 1);
    image.cursor_visible = 1;
    image.cursor_start = 0;
    image.cursor_end = 7;
}

TEST_F(ComposeReference, whole_frames_match_reference_images) {
    struct Reference {
        int32_t font;
        int32_t phase;
        const char* name;
    };
    for (Reference r :
         {Reference{16, 1, "compose_font16_phase1"}, Reference{16, 0, "compose_font16_phase0"},
          Reference{8, 1, "compose_font8_phase1"}, Reference{14, 0, "compose_font14_phase0"},
          Reference{17, 1, "compose_font17_phase1"}}) {
        SCOPED_TRACE(r.name);
        image_set_font(r.font, &page());
        fill_test_pattern(page());
        set_phase(r.phase);
        compose_previous_valid.store(0);
        ASSERT_TRUE(compose());
        expect_matches_reference(frame(), r.name);
        present();
    }
}

TEST_F(ComposeChanges, incremental_frames_equal_full_redraws) {
    // Random edits, phase flips and cursor moves: each incremental frame must equal a frame drawn
    // from scratch for the same page.
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 16;
    };
    fill_test_pattern(page());
    for (int step = 0; step < 40; ++step) {
        for (uint32_t n = next() % 6; n > 0; --n)
            put(int32_t(1 + next() % 80), int32_t(1 + next() % 25), uint8_t(next()),
                uint8_t(next()));
        if (next() % 3 == 0) compose_tick_count.fetch_add(8);
        if (next() % 3 == 0)
            set_cursor(int32_t(1 + next() % 80), int32_t(1 + next() % 25), 1, 0, 15);
        page().pending_wrap = uint8_t(next() % 3);
        compose();
        present();
        std::vector<uint32_t> incremental(frame().pixels, frame().pixels + 640 * 400);
        compose_previous_valid.store(0);
        ASSERT_TRUE(compose());
        present();
        ASSERT_EQ(0, std::memcmp(incremental.data(), frame().pixels, incremental.size() * 4))
            << step;
    }
}

TEST_F(ComposeChanges, reused_buffers_equal_full_compositions_after_every_kind_of_change) {
    // Each run writes into a recycled buffer that still holds a frame from a few runs back and
    // draws only the cells that differ from it. After every kind of change, and after many
    // frames of one kind and then another, that frame must equal a full composition of the page.
    uint32_t seed = 977;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 16;
    };
    auto random_cell = [&] {
        return std::pair{int32_t(1 + next() % 80), int32_t(1 + next() % 25)};
    };
    struct Change {
        const char* kind;
        std::function<void()> apply;
    };
    const std::vector<Change> changes = {
        {"cell",
         [&] {
             auto [column, row] = random_cell();
             put(column, row, uint8_t(next()), uint8_t(0x07 + next() % 2 * 0x10));
         }},
        {"attribute",
         [&] {
             auto [column, row] = random_cell();
             uint32_t offset = uint32_t((row - 1) * 80 + column - 1) * 2;
             image_cell_store(page(), offset + 1, uint8_t(next())); // blink bit included
         }},
        {"palette entry",
         [&] { image_palette_store(page(), int32_t(next() % 16), 0xFF000000u | next() * 7919u); }},
        {"cursor move",
         [&] {
             auto [column, row] = random_cell();
             set_cursor(column, row, 1, int32_t(next() % 16), int32_t(next() % 16));
             page().pending_wrap = uint8_t(next() % 3);
         }},
        {"blink phase", [&] { compose_tick_count.fetch_add(8); }},
        {"mode switch",
         [&] {
             uint32_t to = next() % 3;
             if (to == 0) {
                 screen_mode(12, 0, 0, SCREEN_MODE_GIVEN);
                 image_cell_store(page(), next() % 1000, uint8_t(next()));
                 return;
             }
             screen_mode(0, 0, 0, SCREEN_MODE_GIVEN);
             image_set_font(to == 1 ? 16 : 8, &page());
             fill_test_pattern(page());
         }},
    };
    int32_t reused_runs = 0;
    // Every kind on its own, then all of them mixed, each kind's frames following the last's.
    for (size_t round = 0; round <= changes.size(); ++round) {
        for (int step = 0; step < 24; ++step) {
            const Change& change =
                round < changes.size() ? changes[round] : changes[next() % changes.size()];
            SCOPED_TRACE(testing::Message() << change.kind << ", step " << step);
            change.apply();
            if (!compose()) continue; // nothing visible changed
            present();
            std::vector<uint32_t> reused(frame().pixels,
                                         frame().pixels + size_t(frame().width * frame().height));
            if (page().is_text && composer_state.cells_drawn < 2000) ++reused_runs;
            compose_previous_valid.store(0);
            ASSERT_TRUE(compose());
            present();
            ASSERT_EQ(reused.size(), size_t(frame().width * frame().height));
            ASSERT_EQ(0, std::memcmp(reused.data(), frame().pixels, reused.size() * 4));
        }
        // Back to the start-up page between kinds, with blinking cells and a visible cursor.
        if (!page().is_text || page().font != 16) {
            screen_mode(0, 0, 0, SCREEN_MODE_GIVEN);
            image_set_font(16, &page());
        }
        fill_test_pattern(page());
    }
    // The runs above did reuse buffers rather than draw everything each time.
    EXPECT_GT(reused_runs, 60);
}

// --- Threads -----------------------------------------------------------------------------------

// A display thread ticking as the real one does (faster), for the hand-off tests.
class DisplayThread {
  public:
    DisplayThread() {
        display_thread_running.store(1);
        thread_ = std::thread([this] {
            while (!stop_.load(std::memory_order_acquire)) {
                display_tick();
                platform_sleep_ms(1);
            }
        });
    }
    ~DisplayThread() {
        stop_.store(true, std::memory_order_release);
        thread_.join();
        display_thread_running.store(0);
    }

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST_F(ComposeThreads, display_now_hands_over_to_the_display_thread_and_back) {
    {
        DisplayThread display;
        put(1, 1, 'T', 0x1E);
        display_now(); // -1 until the display thread has composed once more
        EXPECT_EQ(display_auto.load(), 0);
        const DisplayFrame* latest = compose_ring_latest();
        ASSERT_NE(latest, nullptr);
        expect_cell(*latest, 0, 0, 'T', YELLOW, BLUE);
        // Now the program composes itself; the display thread only counts.
        put(1, 1, 'U', 0x1E);
        display_now();
        latest = compose_ring_latest();
        expect_cell(*latest, 0, 0, 'U', YELLOW, BLUE);
        display_auto_on();
        put(1, 1, 'V', 0x1E);
        display_wait_frame();
        compose_ring_consume_older();
        latest = compose_ring_latest();
        expect_cell(*latest, 0, 0, 'V', YELLOW, BLUE);
        compose_ring_consume_older();
    }
}

TEST_F(ComposeThreads, screen_lock_waits_for_the_composer_and_invalidates) {
    DisplayThread display;
    put(1, 1, 'L', 0x07);
    display_wait_frame();
    screen_lock_acquire();
    EXPECT_EQ(screen_lock.load(), 2);
    EXPECT_EQ(compose_previous_valid.load(), 0);
    // While the lock is held the composer leaves the page alone, even as its font changes.
    int32_t before = newest();
    image_set_font(8, &page());
    put(1, 1, 'M', 0x07);
    platform_sleep_ms(20);
    EXPECT_EQ(newest(), before);
    screen_lock_release();
    display_wait_frame();
    const DisplayFrame* latest = compose_ring_latest();
    ASSERT_NE(latest, nullptr);
    EXPECT_EQ(latest->height, 200);
    expect_cell(*latest, 0, 0, 'M', LIGHT_GREY, BLACK);
    compose_ring_consume_older();
}

TEST_F(ComposeThreads, concurrent_printing_composing_and_presenting) {
    // The program thread prints while the display thread composes and a window thread presents;
    // the sanitizer builds check the hand-offs. At the end the newest frame shows the last state.
    std::atomic<bool> stop{false};
    std::atomic<int> frames_seen{0};
    DisplayThread display;
    std::atomic<int> bad_pixels{0};
    std::thread window([&] {
        while (!stop.load(std::memory_order_acquire)) {
            const DisplayFrame* latest = compose_ring_latest();
            if (latest != nullptr && !latest->presented.load()) {
                // Every pixel of a complete frame is an opaque palette colour; a buffer recycled
                // under the presenter would show other values.
                int bad = latest->width == 640 && latest->height == 400 ? 0 : 1;
                for (int32_t i = 0; i < latest->width * latest->height; i += 61)
                    bad += latest->pixels[i] >> 24 != 0xFF;
                bad_pixels.fetch_add(bad);
                compose_ring_mark_presented(latest);
                frames_seen.fetch_add(1);
            }
            compose_ring_consume_older();
            platform_sleep_ms(1);
        }
    });
    for (int i = 0; i < 400; ++i) {
        put(1 + i % 80, 1 + (i / 80) % 25, uint8_t('a' + i % 26), uint8_t(0x10 + i % 0x70));
        if (i % 50 == 0) platform_sleep_ms(2);
    }
    put(40, 12, '!', 0x4F);
    display_wait_frame();
    display_wait_frame();
    stop.store(true, std::memory_order_release);
    window.join();
    EXPECT_GT(frames_seen.load(), 0);
    EXPECT_EQ(bad_pixels.load(), 0);
    const DisplayFrame* latest = compose_ring_latest();
    ASSERT_NE(latest, nullptr);
    expect_cell(*latest, 39, 11, '!', WHITE, RED);
}

} // namespace
