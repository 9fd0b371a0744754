#include <initializer_list>
#include <set>
#include <utility>
#include <vector>

#include "runtime/base/error.h"
#include "screen/screen_fixture.h"

namespace {

constexpr uint32_t argb(uint32_t r, uint32_t g, uint32_t b, uint32_t a = 255) {
    return a << 24 | r << 16 | g << 8 | b;
}

using screen_startup_ = ScreenTest;
using default_palettes = ScreenTest;
using image_table = ScreenTest;
using screen_mode_ = ScreenTest;
using view_print_ = ScreenTest;
using cursor_set_ = ScreenTest;
using image_handles = ScreenTest;

TEST_F(screen_startup_, DefaultScreenIsEightBlankTextPagesInVideoMemory) {
    ASSERT_EQ(screen_state.page_table.size(), 8u);
    std::set<int32_t> slots;
    for (int32_t n = 0; n < 8; ++n) {
        ScreenImage& p = page(n);
        SCOPED_TRACE(n);
        slots.insert(screen_state.page_table[size_t(n)]);
        EXPECT_GE(screen_state.page_table[size_t(n)], 2);
        EXPECT_TRUE(p.is_valid);
        EXPECT_TRUE(p.is_text);
        EXPECT_EQ(p.mode, 0);
        EXPECT_EQ(p.width, 80);
        EXPECT_EQ(p.height, 25);
        EXPECT_EQ(p.bytes_per_pixel, 2);
        EXPECT_EQ(p.bits_per_pixel, 16);
        EXPECT_EQ(p.colour_mask, 0xFFFFu);
        EXPECT_EQ(p.font, 16);
        EXPECT_EQ(p.foreground, 7u);
        EXPECT_EQ(p.background, 0u);
        EXPECT_EQ(p.draw_colour, 7u);
        EXPECT_EQ(p.view_top, 1);
        EXPECT_EQ(p.view_bottom, 24);
        EXPECT_EQ(p.cursor_x, 1);
        EXPECT_EQ(p.cursor_y, 1);
        EXPECT_EQ(p.cursor_visible, 0);
        EXPECT_EQ(p.cursor_start, 4);
        EXPECT_EQ(p.cursor_end, 4);
        EXPECT_EQ(p.pending_wrap, 0);
        EXPECT_EQ(p.transparent_colour, -1);
        EXPECT_EQ(p.print_mode, 3);
        EXPECT_EQ(p.flags & IMAGE_IS_PAGE, IMAGE_IS_PAGE);
        EXPECT_EQ(p.flags & IMAGE_OWNS_PIXELS, 0u); // the cells belong to the video memory
        EXPECT_EQ(p.pixels.load(), conv_memory + TEXT_VIDEO_BASE + uint32_t(n) * 4096);
        ASSERT_NE(p.palette.load(), nullptr);
        for (int32_t i = 0; i < 16; ++i)
            EXPECT_EQ(image_palette_load(p, i), screen_state.default_palette_256[i]);
        EXPECT_EQ(image_palette_load(p, 16), 0u); // only the 16 text colours are set
    }
    EXPECT_EQ(slots.size(), 8u);
    for (uint32_t offset = 0; offset < 65536; offset += 2) {
        ASSERT_EQ(conv_load8(TEXT_VIDEO_BASE + offset), 0x20) << offset;
        ASSERT_EQ(conv_load8(TEXT_VIDEO_BASE + offset + 1), 0x07) << offset;
    }
}

TEST_F(screen_startup_, PageZeroIsWrittenReadAndShown) {
    int32_t slot = screen_state.page_table[0];
    EXPECT_EQ(screen_state.write_page.slot, slot);
    EXPECT_EQ(screen_state.read_page.slot, slot);
    EXPECT_EQ(screen_state.display_page_slot, slot);
    EXPECT_EQ(screen_display_page(), &page(0));
    EXPECT_EQ(get_write_page(), -slot);
    EXPECT_EQ(get_read_page(), -slot);
    EXPECT_EQ(get_display_page(), -slot);
    EXPECT_EQ(screen_state.active_page_number, 0);
    EXPECT_EQ(screen_state.auto_screen, 1);
    EXPECT_FALSE(image_record(0)->is_valid);
    EXPECT_FALSE(image_record(1)->is_valid);
}

TEST_F(default_palettes, TextColoursAndGreys) {
    const uint32_t text[16][3] = {{0, 0, 0},     {0, 0, 170},    {0, 170, 0},    {0, 170, 170},
                                  {170, 0, 0},   {170, 0, 170},  {170, 85, 0},   {170, 170, 170},
                                  {85, 85, 85},  {85, 85, 255},  {85, 255, 85},  {85, 255, 255},
                                  {255, 85, 85}, {255, 85, 255}, {255, 255, 85}, {255, 255, 255}};
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(DEFAULT_PALETTE_256[size_t(i)], argb(text[i][0], text[i][1], text[i][2], 0));
        EXPECT_EQ(screen_state.default_palette_256[i], argb(text[i][0], text[i][1], text[i][2]));
    }
    const uint32_t greys[16] = {0,   20,  32,  45,  57,  69,  81,  97,
                                113, 130, 146, 162, 182, 202, 227, 255};
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(screen_state.default_palette_256[16 + i], argb(greys[i], greys[i], greys[i]));
}

TEST_F(default_palettes, VgaColourRing) {
    const uint32_t* p = screen_state.default_palette_256;
    EXPECT_EQ(p[32], argb(0, 0, 255));
    EXPECT_EQ(p[33], argb(65, 0, 255));
    EXPECT_EQ(p[34], argb(125, 0, 255));
    EXPECT_EQ(p[36], argb(255, 0, 255));
    EXPECT_EQ(p[40], argb(255, 0, 0));
    EXPECT_EQ(p[44], argb(255, 255, 0));
    EXPECT_EQ(p[48], argb(0, 255, 0));
    EXPECT_EQ(p[52], argb(0, 255, 255));
    EXPECT_EQ(p[55], argb(0, 65, 255));
    EXPECT_EQ(p[56], argb(125, 125, 255)); // less saturated: floor 31
    EXPECT_EQ(p[80], argb(182, 182, 255)); // least saturated: floor 45
    EXPECT_EQ(p[104], argb(0, 0, 113));    // medium intensity: level 28
    EXPECT_EQ(p[129], argb(69, 57, 113));
    EXPECT_EQ(p[176], argb(0, 0, 65)); // low intensity: level 16
    EXPECT_EQ(p[227], argb(61, 45, 65));
    EXPECT_EQ(p[247], argb(45, 49, 65));
    for (int i = 248; i < 256; ++i) EXPECT_EQ(p[i], argb(0, 0, 0)) << i;
    // Every colour of the ring is distinct.
    std::set<uint32_t> ring(p + 32, p + 248);
    EXPECT_EQ(ring.size(), 216u);
}

TEST_F(default_palettes, EgaColours) {
    const uint32_t* ega = screen_state.ega_palette_64;
    EXPECT_EQ(ega[0], argb(0, 0, 0));
    EXPECT_EQ(ega[1], argb(0, 0, 170));
    EXPECT_EQ(ega[7], argb(170, 170, 170));
    EXPECT_EQ(ega[20], argb(170, 85, 0)); // brown: red bit 2 with green bit 4
    EXPECT_EQ(ega[56], argb(85, 85, 85));
    EXPECT_EQ(ega[62], argb(255, 255, 85));
    EXPECT_EQ(ega[63], argb(255, 255, 255));
    EXPECT_EQ(EGA_PALETTE_64[9], argb(0, 0, 255, 0));
}

TEST_F(default_palettes, ModeDefaultsOfNewImages) {
    const uint32_t* d = screen_state.default_palette_256;
    ScreenImage& cga = *image_record(image_create(8, 8, 1));
    EXPECT_EQ(image_palette_load(cga, 1), d[3]);
    EXPECT_EQ(image_palette_load(cga, 2), d[5]);
    EXPECT_EQ(image_palette_load(cga, 3), d[7]);
    EXPECT_EQ(image_palette_load(cga, 4), 0u);
    EXPECT_EQ(cga.foreground, 3u);
    EXPECT_EQ(cga.font, 8);

    ScreenImage& mono = *image_record(image_create(8, 8, 2));
    EXPECT_EQ(image_palette_load(mono, 0), 0u);
    EXPECT_EQ(image_palette_load(mono, 1), 0x00FFFFFFu);
    EXPECT_EQ(mono.colour_mask, 1u);

    ScreenImage& ega = *image_record(image_create(8, 8, 9));
    EXPECT_EQ(image_palette_load(ega, 6), screen_state.ega_palette_64[20]);
    EXPECT_EQ(image_palette_load(ega, 8), screen_state.ega_palette_64[56]);
    EXPECT_EQ(image_palette_load(ega, 15), screen_state.ega_palette_64[63]);
    EXPECT_EQ(ega.font, 14);

    ScreenImage& pairs = *image_record(image_create(8, 8, 10));
    EXPECT_EQ(image_palette_load(pairs, 5), 4u);
    EXPECT_EQ(image_palette_load(pairs, 7), 8u);
    EXPECT_EQ(image_palette_load(pairs, 0), 0u);

    ScreenImage& vga = *image_record(image_create(8, 8, 13));
    EXPECT_EQ(image_palette_load(vga, 200), d[200]);
    EXPECT_EQ(vga.colour_mask, 255u);
    EXPECT_EQ(vga.foreground, 15u);
    EXPECT_EQ(vga.graphics.clip_right, 7);
    EXPECT_FLOAT_EQ(vga.graphics.last_x, 4.0f);

    ScreenImage& truecolour = *image_record(image_create(8, 8, 32));
    EXPECT_EQ(truecolour.palette.load(), nullptr);
    EXPECT_EQ(truecolour.foreground, 0xFFFFFFFFu);
    EXPECT_EQ(truecolour.background, 0xFF000000u);
    EXPECT_EQ(truecolour.colour_mask, 0xFFFFFFFFu);
    EXPECT_EQ(truecolour.bytes_per_pixel, 4);
}

TEST_F(image_table, RejectedImagesTakeNoSlot) {
    int32_t probe = image_create(1, 1, 0);
    ASSERT_NE(probe, 0);
    image_free(-probe, -1);
    ASSERT_FALSE(image_record(probe)->is_valid);
    EXPECT_EQ(image_new(nullptr, 0, 25, 0), 0);
    EXPECT_EQ(image_new(nullptr, 80, 0, 0), 0);
    EXPECT_EQ(image_new(nullptr, 80, 25, 3), 0);
    EXPECT_EQ(image_new(nullptr, 65536, 1, 0), 0);
    EXPECT_EQ(image_create(-1, 5, 13), 0);
    // The slot released above is the next one handed out: none was taken meanwhile.
    EXPECT_EQ(image_create(1, 1, 0), probe);
}

TEST_F(image_table, ReleaseAndReuse) {
    int32_t a = image_create(4, 2, 0);
    int32_t b = image_create(4, 2, 0);
    ASSERT_NE(a, 0);
    ASSERT_NE(b, a);
    ScreenImage& image = *image_record(a);
    EXPECT_EQ(image.flags & IMAGE_OWNS_PIXELS, IMAGE_OWNS_PIXELS);
    for (uint32_t i = 0; i < 16; i += 2) {
        EXPECT_EQ(image_cell_load(image, i), 0x20);
        EXPECT_EQ(image_cell_load(image, i + 1), 0x07);
    }
    EXPECT_EQ(image_slot_release(0), 0);
    EXPECT_EQ(image_slot_release(1), 0);
    EXPECT_EQ(image_slot_release(-3), 0);
    EXPECT_EQ(image_slot_release(1 << 30), 0);
    image_free(-a, 1);
    EXPECT_FALSE(image_record(a)->is_valid);
    EXPECT_EQ(image_slot_release(a), 0); // already free
    image_free(-b, 1);
    EXPECT_EQ(image_create(1, 1, 0), b); // last released, first reused
    EXPECT_EQ(image_create(1, 1, 0), a);
}

TEST_F(image_table, GrowsWithoutMovingRecords) {
    ScreenImage* shown = screen_display_page();
    std::set<int32_t> slots;
    for (int32_t i = 0; i < IMAGE_TABLE_GROWTH + 5; ++i) {
        int32_t slot = image_new(nullptr, 1, 1, 32);
        ASSERT_GT(slot, 1);
        slots.insert(slot);
    }
    EXPECT_EQ(slots.size(), size_t(IMAGE_TABLE_GROWTH) + 5);
    EXPECT_EQ(screen_display_page(), shown);
    EXPECT_EQ(screen_state.write_page.image, shown);
    EXPECT_EQ(image_record(screen_state.page_table[0]), shown);
    EXPECT_EQ(shown->width, 80);
    // Releasing more slots than the free stack first had room for grows it.
    for (int32_t slot : slots) ASSERT_EQ(image_slot_release(slot), 1);
    EXPECT_EQ(screen_state.free_slots.size(), slots.size());
}

TEST_F(screen_mode_, RejectsBadArguments) {
    ScreenImage* shown = screen_display_page();
    for (int32_t mode : {3, 4, 5, 6, 14, 32, 256}) {
        screen_mode(mode, 0, 0, SCREEN_MODE_GIVEN);
        EXPECT_EQ(error(), 5u) << mode;
        clear_error();
    }
    screen_mode(-77, 0, 0, SCREEN_MODE_GIVEN);
    EXPECT_EQ(error(), 258u);
    clear_error();
    screen_mode(0, -1, 0, SCREEN_ACTIVE_PAGE_GIVEN);
    EXPECT_EQ(error(), 5u);
    clear_error();
    screen_mode(0, 0, 8, SCREEN_DISPLAY_PAGE_GIVEN);
    EXPECT_EQ(error(), 5u);
    clear_error();
    EXPECT_EQ(screen_display_page(), shown);
    EXPECT_EQ(screen_state.auto_screen, 1);
}

TEST_F(screen_mode_, SameModeKeepsTheScreen) {
    print("kept");
    std::vector<int32_t> before = screen_state.page_table;
    screen_mode(0, 0, 0, SCREEN_MODE_GIVEN);
    EXPECT_EQ(screen_state.page_table, before);
    EXPECT_EQ(row_text(1, 1, 4), "kept");
    EXPECT_EQ(screen_state.auto_screen, 1); // mode 0 and nothing else keeps the automatic screen
}

TEST_F(screen_mode_, PageSelection) {
    screen_mode(0, 2, 0, SCREEN_ACTIVE_PAGE_GIVEN);
    EXPECT_EQ(error(), 0u);
    EXPECT_EQ(screen_state.active_page_number, 2);
    EXPECT_EQ(get_write_page(), -screen_state.page_table[2]);
    EXPECT_EQ(get_read_page(), -screen_state.page_table[2]);
    EXPECT_EQ(get_display_page(), -screen_state.page_table[0]);
    EXPECT_EQ(screen_state.auto_screen, 0);
    print("on two");
    EXPECT_EQ(conv_load8(TEXT_VIDEO_BASE + 2 * 4096), 'o');
    EXPECT_EQ(conv_load8(TEXT_VIDEO_BASE), 0x20);

    screen_mode(0, 0, 3, SCREEN_DISPLAY_PAGE_GIVEN);
    EXPECT_EQ(screen_display_page(), &page(3));
    EXPECT_EQ(get_display_page(), -screen_state.page_table[3]);
    EXPECT_EQ(get_write_page(), -screen_state.page_table[2]);
}

TEST_F(screen_mode_, GraphicsAndBackToText) {
    print("gone");
    screen_mode(13, 0, 0, SCREEN_MODE_GIVEN);
    ASSERT_EQ(error(), 0u);
    ASSERT_EQ(screen_state.page_table.size(), 1u);
    ScreenImage& shown = *screen_display_page();
    EXPECT_EQ(shown.mode, 13);
    EXPECT_FALSE(shown.is_text);
    EXPECT_EQ(shown.width, 320);
    EXPECT_EQ(shown.height, 200);
    EXPECT_EQ(shown.view_bottom, 24); // 200 / 8 rows - 1
    EXPECT_EQ(screen_state.auto_screen, 0);

    screen_mode(0, 0, 0, SCREEN_MODE_GIVEN);
    ASSERT_EQ(screen_state.page_table.size(), 8u);
    EXPECT_EQ(page(0).width, 80);
    EXPECT_EQ(page(0).height, 25);
    EXPECT_EQ(conv_load8(TEXT_VIDEO_BASE), 0x20); // a new screen starts blank
}

TEST_F(screen_mode_, SizeRequests) {
    screen_state.size_request = SizeRequest{40, -1, -1};
    screen_mode(0, 0, 0, 0);
    EXPECT_EQ(page(0).width, 40);
    EXPECT_EQ(page(0).height, 25);
    EXPECT_EQ(page(0).font, 17);
    EXPECT_EQ(page(1).pixels.load(), conv_memory + TEXT_VIDEO_BASE + 2048);
    EXPECT_EQ(screen_state.size_request.columns, -1);

    // No request keeps the previous size.
    screen_mode(13, 0, 0, SCREEN_MODE_GIVEN);
    screen_mode(0, 0, 0, SCREEN_MODE_GIVEN);
    EXPECT_EQ(page(0).width, 40);
    EXPECT_EQ(page(0).font, 17);

    screen_state.size_request = SizeRequest{-1, 43, -1};
    screen_mode(0, 0, 0, 0);
    EXPECT_EQ(page(0).width, 40);
    EXPECT_EQ(page(0).height, 43);
    EXPECT_EQ(page(0).font, 15);
    EXPECT_EQ(page(0).view_bottom, 42);

    screen_state.size_request = SizeRequest{80, -1, -1};
    screen_mode(0, 0, 0, 0);
    EXPECT_EQ(page(0).height, 43);
    EXPECT_EQ(page(0).font, 14);
    EXPECT_EQ(page(3).pixels.load(), conv_memory + TEXT_VIDEO_BASE + 3 * 80 * 43 * 2);
}

TEST_F(screen_mode_, PagesBeyondTheTextMemoryGetArraysOfTheirOwn) {
    screen_state.size_request = SizeRequest{200, 100, 16};
    screen_mode(0, 0, 0, 0);
    ASSERT_EQ(error(), 0u);
    EXPECT_EQ(page(0).pixels.load(), conv_memory + TEXT_VIDEO_BASE);
    for (int32_t n = 1; n < 8; ++n) {
        EXPECT_EQ(page(n).flags & IMAGE_OWNS_PIXELS, IMAGE_OWNS_PIXELS) << n;
        EXPECT_EQ(image_cell_load(page(n), 200 * 100 * 2 - 2), 0x20);
    }
}

TEST_F(view_print_, WithAndWithoutArguments) {
    print(std::string(80, 'x'));
    ASSERT_EQ(writing().pending_wrap, 1);
    view_print(5, 10, -1);
    EXPECT_EQ(writing().view_top, 5);
    EXPECT_EQ(writing().view_bottom, 10);
    EXPECT_EQ(writing().cursor_y, 5);
    EXPECT_EQ(writing().cursor_x, 1);
    EXPECT_EQ(writing().pending_wrap, 0);

    view_print(0, 0, 0);
    EXPECT_EQ(writing().view_top, 1);
    EXPECT_EQ(writing().view_bottom, 25); // the whole screen, unlike the start-up view
    EXPECT_EQ(writing().cursor_y, 1);
}

TEST_F(view_print_, InvalidRowsChangeNothing) {
    cursor_to(3, 7);
    for (auto [top, bottom] :
         std::initializer_list<std::pair<int32_t, int32_t>>{{0, 10}, {10, 5}, {1, 26}, {-3, 4}}) {
        view_print(top, bottom, -1);
        EXPECT_EQ(error(), 5u);
        clear_error();
    }
    EXPECT_EQ(writing().view_top, 1);
    EXPECT_EQ(writing().view_bottom, 24);
    EXPECT_EQ(writing().cursor_y, 3);
    EXPECT_EQ(writing().cursor_x, 7);
    view_print(25, 25, -1);
    EXPECT_EQ(error(), 0u);
    error_raise(6);
    view_print(2, 3, -1);
    EXPECT_EQ(writing().view_top, 25);
}

TEST_F(cursor_set_, RowsOfTheView) {
    screen_state.auto_screen = 0; // a screen the program chose: rows below the view are refused
    cursor_to(25, 1);             // the last row is accepted although the view ends at 24
    EXPECT_EQ(error(), 0u);
    EXPECT_EQ(writing().cursor_y, 25);
    cursor_to(0, 1);
    EXPECT_EQ(error(), 5u);
    EXPECT_EQ(writing().cursor_y, 25);
    clear_error();
    view_print(5, 10, -1);
    cursor_to(4, 1);
    EXPECT_EQ(error(), 5u);
    clear_error();
    cursor_to(11, 1); // below the view but not the last row
    EXPECT_EQ(error(), 5u);
    clear_error();
    cursor_to(10, 80);
    EXPECT_EQ(error(), 0u);
    EXPECT_EQ(writing().cursor_x, 80);
    cursor_to(10, 81);
    EXPECT_EQ(error(), 5u);
    EXPECT_EQ(screen_state.page_table.size(), 8u);
    EXPECT_EQ(writing().height, 25);
}

TEST_F(cursor_set_, OtherArgumentsAreCheckedBeforeAnythingChanges) {
    cursor_to(3, 3);
    cursor_set(7, 7, 2, 0, 0, CURSOR_ROW_GIVEN | CURSOR_COLUMN_GIVEN | CURSOR_VISIBLE_GIVEN);
    EXPECT_EQ(error(), 5u);
    clear_error();
    cursor_set(7, 7, 1, 32, 0, CURSOR_ROW_GIVEN | CURSOR_START_GIVEN);
    EXPECT_EQ(error(), 5u);
    clear_error();
    cursor_set(7, 7, 1, 0, -1, CURSOR_ROW_GIVEN | CURSOR_END_GIVEN);
    EXPECT_EQ(error(), 5u);
    clear_error();
    EXPECT_EQ(writing().cursor_y, 3);
    EXPECT_EQ(writing().cursor_x, 3);
    EXPECT_EQ(writing().cursor_start, 4);
}

TEST_F(cursor_set_, ShapeReachesEveryPage) {
    cursor_set(0, 0, 1, 0, 7, CURSOR_VISIBLE_GIVEN | CURSOR_START_GIVEN | CURSOR_END_GIVEN);
    for (int32_t n = 0; n < 8; ++n) {
        EXPECT_EQ(page(n).cursor_visible, 1) << n;
        EXPECT_EQ(page(n).cursor_start, 0) << n;
        EXPECT_EQ(page(n).cursor_end, 7) << n;
    }
    EXPECT_EQ(writing().cursor_x, 1);
}

TEST_F(cursor_set_, VisibilityAloneMovesAPendingWrap) {
    print(std::string(80, 'w'));
    ASSERT_EQ(writing().pending_wrap, 1);
    cursor_set(0, 0, 1, 0, 0, CURSOR_VISIBLE_GIVEN);
    EXPECT_EQ(writing().pending_wrap, 2);
    EXPECT_EQ(writing().cursor_x, 80);
    cursor_set(0, 0, 0, 0, 0, CURSOR_VISIBLE_GIVEN);
    EXPECT_EQ(writing().pending_wrap, 2);
    cursor_set(0, 40, 0, 0, 0, CURSOR_COLUMN_GIVEN);
    EXPECT_EQ(writing().pending_wrap, 0);
}

TEST_F(cursor_set_, EnlargesTheAutomaticScreenOnce) {
    writing().foreground = 14;
    writing().background = 1;
    print("top line");
    cursor_to(25, 1);
    print("bottom line");
    cursor_to(30, 5);
    ASSERT_EQ(error(), 0u);
    EXPECT_EQ(screen_state.auto_screen, 0);
    ScreenImage& p = writing();
    EXPECT_EQ(&p, &page(0));
    EXPECT_EQ(p.width, 80);
    EXPECT_EQ(p.height, 50);
    EXPECT_EQ(p.font, 8);
    EXPECT_EQ(p.view_bottom, 49);
    EXPECT_EQ(p.cursor_y, 30);
    EXPECT_EQ(p.cursor_x, 5);
    EXPECT_EQ(p.foreground, 14u);
    EXPECT_EQ(p.background, 1u);
    EXPECT_EQ(page(1).pixels.load(), conv_memory + TEXT_VIDEO_BASE + 8000);
    EXPECT_EQ(row_text(1, 1, 8), "top line");
    EXPECT_EQ(attribute_at(1, 1), 0x1E);
    EXPECT_EQ(row_text(25, 1, 11), "bottom line");
    EXPECT_TRUE(row_is_blank(26));
    EXPECT_EQ(screen_display_page(), &p);

    cursor_to(50, 1); // now simply the last row
    EXPECT_EQ(error(), 0u);
    screen_state.size_request = SizeRequest{80, 25, 16};
    screen_mode(0, 0, 0, 0);
    cursor_to(30, 1);
    EXPECT_EQ(error(), 5u);
    EXPECT_EQ(writing().height, 25);
}

TEST_F(cursor_set_, RowBelowANarrowedViewEnlargesTheAutomaticScreen) {
    print("kept");
    view_print(5, 10, -1);
    cursor_to(4, 1); // above the view: refused, and the enlargement is not used up
    EXPECT_EQ(error(), 5u);
    EXPECT_EQ(writing().height, 25);
    clear_error();
    cursor_to(11, 3); // inside the 25 rows but below the view
    ASSERT_EQ(error(), 0u);
    EXPECT_EQ(screen_state.auto_screen, 0);
    EXPECT_EQ(writing().width, 80);
    EXPECT_EQ(writing().height, 50);
    EXPECT_EQ(writing().view_top, 1);
    EXPECT_EQ(writing().view_bottom, 49);
    EXPECT_EQ(writing().cursor_y, 11);
    EXPECT_EQ(writing().cursor_x, 3);
    EXPECT_EQ(row_text(1, 1, 4), "kept");
    view_print(5, 10, -1);
    cursor_to(11, 1); // the one enlargement is spent
    EXPECT_EQ(error(), 5u);
    EXPECT_EQ(writing().cursor_y, 5);
}

TEST_F(cursor_set_, NoEnlargementAfterAnotherScreenChange) {
    screen_mode(0, 1, 0, SCREEN_ACTIVE_PAGE_GIVEN);
    screen_mode(0, 0, 0, SCREEN_ACTIVE_PAGE_GIVEN);
    cursor_to(30, 1);
    EXPECT_EQ(error(), 5u);
    EXPECT_EQ(writing().height, 25);
}

TEST_F(cursor_set_, RowsBeyondFiftyNeverEnlarge) {
    cursor_to(51, 1);
    EXPECT_EQ(error(), 5u);
    EXPECT_EQ(writing().height, 25);
    clear_error();
    cursor_to(30, 81);
    EXPECT_EQ(error(), 5u);
    EXPECT_EQ(writing().height, 25);
    clear_error();
    cursor_to(26, 1); // the refused requests did not use up the one enlargement
    EXPECT_EQ(error(), 0u);
    EXPECT_EQ(writing().height, 50);
}

TEST_F(image_handles, NewImageStatement) {
    EXPECT_EQ(image_new_statement(0, 5, 0, 0), 0);
    EXPECT_EQ(error(), 5u);
    clear_error();
    EXPECT_EQ(image_new_statement(5, 5, 4, -1), 0);
    EXPECT_EQ(error(), 5u);
    clear_error();

    writing().foreground = 12;
    writing().background = 3;
    image_palette_store(writing(), 200, 0xFF123456u);
    int32_t handle = image_new_statement(10, 4, 0, 0);
    ASSERT_LT(handle, 0);
    ScreenImage& image = *image_record(-handle);
    EXPECT_EQ(image.mode, 0);
    EXPECT_EQ(image.width, 10);
    EXPECT_EQ(image.foreground, 12u);
    EXPECT_EQ(image.background, 3u);
    EXPECT_EQ(image_palette_load(image, 200), 0xFF123456u);
    EXPECT_EQ(image.flags & IMAGE_IS_PAGE, 0u);

    int32_t graphics = image_new_statement(16, 16, 13, -1);
    ASSERT_LT(graphics, 0);
    EXPECT_EQ(image_record(-graphics)->foreground, 15u);

    error_raise(6);
    EXPECT_EQ(image_new_statement(10, 4, 0, 0), 0);
    EXPECT_EQ(image_copy(0, 0), 0);
}

TEST_F(image_handles, CopyPageCopyAndFree) {
    print("snapshot");
    int32_t snapshot = image_copy(0, 0);
    ASSERT_LT(snapshot, 0);
    ScreenImage& copy = *image_record(-snapshot);
    EXPECT_EQ(copy.flags & IMAGE_IS_PAGE, 0u);
    EXPECT_EQ(copy.flags & (IMAGE_OWNS_PIXELS | IMAGE_OWNS_PALETTE),
              IMAGE_OWNS_PIXELS | IMAGE_OWNS_PALETTE);
    EXPECT_NE(copy.pixels.load(), writing().pixels.load());
    EXPECT_NE(copy.palette.load(), writing().palette.load());
    EXPECT_EQ(copy.cursor_x, 9);
    EXPECT_EQ(image_text_cell(copy, 1, 1).character, 's');

    screen_clear(0, 0, 0);
    EXPECT_EQ(row_text(1, 1, 8), "        ");
    EXPECT_EQ(image_text_cell(copy, 1, 1).character, 's'); // the copy is independent
    page_copy(snapshot, 0);
    EXPECT_EQ(row_text(1, 1, 8), "snapshot");
    page_copy(0, 0); // the same image twice does nothing
    EXPECT_EQ(error(), 0u);

    int32_t small = image_new_statement(10, 4, 0, -1);
    page_copy(small, 0);
    EXPECT_EQ(error(), 5u);
    clear_error();

    int32_t slot = -snapshot;
    image_free(snapshot, -1);
    EXPECT_FALSE(image_record(slot)->is_valid);
    image_free(snapshot, -1);
    EXPECT_EQ(error(), 258u);
    clear_error();
    page_copy(snapshot, 0);
    EXPECT_EQ(error(), 258u);
}

TEST_F(image_handles, FreeRefusesPagesAndResetsSelections) {
    image_free(0, -1);
    EXPECT_EQ(error(), 5u);
    clear_error();
    image_free(-screen_state.page_table[1], -1);
    EXPECT_EQ(error(), 5u);
    clear_error();
    image_free(0, 0); // the write page is a page of the screen
    EXPECT_EQ(error(), 5u);
    clear_error();

    int32_t handle = image_new_statement(80, 25, 0, -1);
    set_write_page(handle);
    set_read_page(handle);
    EXPECT_EQ(get_write_page(), handle);
    EXPECT_EQ(get_read_page(), handle);
    EXPECT_EQ(get_display_page(), -screen_state.page_table[0]);
    print("into the image");
    EXPECT_EQ(image_text_cell(*image_record(-handle), 1, 1).character, 'i');
    EXPECT_EQ(conv_load8(TEXT_VIDEO_BASE), 0x20);
    image_free(0, 0);
    EXPECT_EQ(error(), 0u);
    EXPECT_EQ(get_write_page(), get_display_page());
    EXPECT_EQ(get_read_page(), get_display_page());

    set_write_page(1);
    EXPECT_EQ(get_write_page(), -screen_state.page_table[1]);
    EXPECT_EQ(get_read_page(), get_display_page()); // nothing else changes
    set_write_page(8);
    EXPECT_EQ(error(), 5u);
    clear_error();
    set_read_page(-1);
    EXPECT_EQ(error(), 258u);
}

TEST_F(screen_mode_, ProgramImageAsScreen) {
    int32_t handle = image_new_statement(64, 32, 13, -1);
    screen_mode(handle, 0, 0, SCREEN_MODE_GIVEN);
    ASSERT_EQ(error(), 0u);
    EXPECT_EQ(screen_display_page(), image_record(-handle));
    image_free(handle, -1);
    EXPECT_EQ(error(), 5u); // it is the screen now
    clear_error();
    screen_mode(0, 0, 0, SCREEN_MODE_GIVEN);
    EXPECT_TRUE(image_record(-handle)->is_valid); // the program's image outlives the screen
    image_free(handle, -1);
    EXPECT_EQ(error(), 0u);
}

} // namespace
