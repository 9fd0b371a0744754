#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "display/compose_fixture.h"
#include "runtime/base/run_state.h"
#include "runtime/display/compose.h"
#include "runtime/display/detail.h"
#include "runtime/display/display.h"
#include "runtime/display/font.h"
#include "runtime/memory/conv.h"
#include "runtime/platform/platform.h"
#include "runtime/screen/image.h"
#include "support/reference.h"

namespace {

// Expected colours are worked out here from the colour rules themselves (levels, bit formulas),
// not read from the run-time's tables.
constexpr uint32_t rgb(uint32_t red, uint32_t green, uint32_t blue) {
    return 0xFF000000u | red << 16 | green << 8 | blue;
}
constexpr uint32_t BLACK = rgb(0, 0, 0);
constexpr uint32_t GREY = rgb(128, 128, 128);
constexpr uint32_t WHITE = rgb(255, 255, 255);
// Palette-less monochrome pages: black and white with alpha 0.
constexpr uint32_t MONO_BLACK = 0x00000000u, MONO_WHITE = 0x00FFFFFFu;

// An EGA colour: two bits per primary, the high bit worth 170 and the low one 85.
constexpr uint32_t ega(uint32_t i) {
    return rgb(170 * (i >> 2 & 1) + 85 * (i >> 5 & 1), 170 * (i >> 1 & 1) + 85 * (i >> 4 & 1),
               170 * (i & 1) + 85 * (i >> 3 & 1));
}
static_assert(ega(20) == rgb(170, 85, 0) && ega(56) == rgb(85, 85, 85) && ega(63) == WHITE);

int64_t fake_clock = 0;
int64_t fake_clock_ms() {
    return fake_clock;
}

class ComposeGraphics : public ComposeTest {
  protected:
    void SetUp() override {
        ComposeTest::SetUp();
        fake_clock = 0;
        composer_state.clock_ms = fake_clock_ms;
    }

    // A screen in one of the classic modes; page 0 shown and written.
    static ScreenImage& screen(int32_t mode) {
        screen_mode(mode, 0, 0, SCREEN_MODE_GIVEN);
        EXPECT_EQ(page().mode, mode);
        return page();
    }
    // A program image of any mode made the screen.
    static ScreenImage& image_screen(int32_t width, int32_t height, int32_t mode) {
        int32_t slot = image_create(width, height, mode);
        EXPECT_NE(slot, 0);
        screen_mode(-slot, 0, 0, SCREEN_MODE_GIVEN);
        EXPECT_EQ(screen_display_page(), image_record(slot));
        return page();
    }
    static void set(ScreenImage& image, int32_t x, int32_t y, uint8_t value) {
        image_cell_store(image, uint32_t(y) * image.width + uint32_t(x), value);
    }
    static void set32(ScreenImage& image, int32_t x, int32_t y, uint32_t value) {
        auto* pixels = reinterpret_cast<uint32_t*>(image.pixels.load());
        std::atomic_ref<uint32_t>(pixels[size_t(y) * image.width + size_t(x)])
            .store(value, std::memory_order_relaxed);
    }
    static size_t count_colour(const DisplayFrame& f, uint32_t colour) {
        size_t n = 0;
        for (int32_t i = 0; i < f.width * f.height; ++i) n += f.pixels[i] == colour;
        return n;
    }
};

using ComposeGraphicsChanges = ComposeGraphics;
using ComposeGraphicsMode10 = ComposeGraphics;
using ComposeGraphicsReference = ComposeGraphics;
using ComposeGraphicsThreads = ComposeGraphics;

// --- Pixels per mode ---------------------------------------------------------------------------

struct PixelCase {
    int32_t mode;
    int32_t width, height; // of the frame, and of the image for the modes without a screen
    uint32_t background;   // colour of pixel value 0
    std::vector<std::pair<uint8_t, uint32_t>> values;
};

TEST_F(ComposeGraphics, one_byte_pages_show_their_palette_colours) {
    const PixelCase cases[] = {
        // Entries 0, 3, 5, 7 of the text colours; value 7 has a bit above the depth.
        {1,
         320,
         200,
         BLACK,
         {{1, rgb(0, 170, 170)},
          {2, rgb(170, 0, 170)},
          {3, rgb(170, 170, 170)},
          {7, rgb(170, 170, 170)}}},
        {2, 640, 200, MONO_BLACK, {{1, MONO_WHITE}, {3, MONO_WHITE}}},
        {7, 320, 200, BLACK, {{14, rgb(255, 255, 85)}, {6, rgb(170, 85, 0)}}},
        {8, 640, 200, BLACK, {{9, rgb(85, 85, 255)}, {0x1F, WHITE}}},
        {9, 640, 350, BLACK, {{5, ega(5)}, {6, ega(20)}, {8, ega(56)}, {15, ega(63)}}},
        {11, 640, 480, MONO_BLACK, {{1, MONO_WHITE}}},
        {12, 640, 480, BLACK, {{12, rgb(255, 85, 85)}, {1, rgb(0, 0, 170)}}},
        // Greys from entry 16; the colour ring from 32 (blue, then towards magenta); 248 on black.
        {13,
         320,
         200,
         BLACK,
         {{4, rgb(170, 0, 0)},
          {20, rgb(57, 57, 57)},
          {31, WHITE},
          {32, rgb(0, 0, 255)},
          {33, rgb(65, 0, 255)},
          {36, rgb(255, 0, 255)},
          {255, BLACK}}},
        {256, 100, 60, BLACK, {{33, rgb(65, 0, 255)}, {15, WHITE}}},
    };
    for (const PixelCase& c : cases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode));
        ScreenImage& image =
            c.mode == 256 ? image_screen(c.width, c.height, c.mode) : screen(c.mode);
        // The values at the corners and along the middle row.
        std::vector<std::pair<int32_t, int32_t>> where;
        for (size_t i = 0; i < c.values.size(); ++i) {
            int32_t x = i == 0 ? c.width - 1 : int32_t(i) * 7;
            int32_t y = i == 0 ? c.height - 1 : c.height / 2;
            where.emplace_back(x, y);
            set(image, x, y, c.values[i].first);
        }
        ASSERT_TRUE(compose());
        ASSERT_EQ(frame().width, c.width);
        ASSERT_EQ(frame().height, c.height);
        EXPECT_EQ(frame().byte_size, c.width * c.height * 4);
        for (size_t i = 0; i < c.values.size(); ++i)
            EXPECT_EQ(at(frame(), where[i].first, where[i].second), c.values[i].second)
                << "value " << int(c.values[i].first);
        EXPECT_EQ(at(frame(), 0, 0), c.background);
        EXPECT_EQ(at(frame(), 1, c.height / 2), c.background);
        present();
    }
}

TEST_F(ComposeGraphics, true_colour_pages_are_copied_unchanged) {
    ScreenImage& image = image_screen(64, 48, 32);
    EXPECT_EQ(image.palette.load(), nullptr);
    set32(image, 0, 0, 0x80123456u); // alpha is passed through as it is
    set32(image, 63, 0, 0xFFFF0000u);
    set32(image, 63, 47, 0x00ABCDEFu);
    set32(image, 10, 20, 0xFF00FF00u);
    ASSERT_TRUE(compose());
    ASSERT_EQ(frame().width, 64);
    ASSERT_EQ(frame().height, 48);
    EXPECT_EQ(at(frame(), 0, 0), 0x80123456u);
    EXPECT_EQ(at(frame(), 63, 0), 0xFFFF0000u);
    EXPECT_EQ(at(frame(), 63, 47), 0x00ABCDEFu);
    EXPECT_EQ(at(frame(), 10, 20), 0xFF00FF00u);
    EXPECT_EQ(count_colour(frame(), 0u), size_t(64 * 48 - 4)); // the rest is still zero
}

TEST_F(ComposeGraphics, the_pages_own_palette_is_used) {
    ScreenImage& image = screen(13);
    image_palette_store(image, 7, 0xFF102030u);
    set(image, 5, 5, 7);
    ASSERT_TRUE(compose());
    EXPECT_EQ(at(frame(), 5, 5), 0xFF102030u);
}

TEST_F(ComposeGraphics, page_without_palette_or_with_an_unknown_depth_gives_no_frame) {
    ScreenImage& image = screen(13);
    uint32_t* palette = image.palette.load();
    image.palette = nullptr;
    EXPECT_FALSE(compose());
    image.palette = palette;
    image.bits_per_pixel = 3;
    EXPECT_FALSE(compose());
    image.bits_per_pixel = 8;
    EXPECT_TRUE(compose());
}

// --- Change detection ----------------------------------------------------------------------------

TEST_F(ComposeGraphicsChanges, unchanged_page_gives_no_frame_and_a_pixel_change_one) {
    ScreenImage& image = screen(12);
    ASSERT_TRUE(compose());
    present();
    int32_t slot = newest();
    for (int run = 0; run < 3; ++run) EXPECT_FALSE(compose());
    EXPECT_EQ(newest(), slot);
    set(image, 639, 479, 14);
    ASSERT_TRUE(compose());
    EXPECT_EQ(at(frame(), 639, 479), rgb(255, 255, 85));
    present();
    set(image, 639, 479, 14); // the same value again
    EXPECT_FALSE(compose());
}

TEST_F(ComposeGraphicsChanges, only_the_palette_entries_of_the_depth_count) {
    ScreenImage& image = screen(1); // 2 bits: entries 0 to 3
    set(image, 3, 3, 2);
    ASSERT_TRUE(compose());
    present();
    image_palette_store(image, 10, 0xFF445566u);
    EXPECT_FALSE(compose());
    image_palette_store(image, 2, 0xFF445566u);
    ASSERT_TRUE(compose());
    EXPECT_EQ(at(frame(), 3, 3), 0xFF445566u);
    // Value 6 shows entry 2 (its low bits), not the changed entry 6 beyond the depth.
    present();
    image_palette_store(image, 6, 0xFF0000FFu);
    set(image, 4, 3, 6);
    ASSERT_TRUE(compose());
    EXPECT_EQ(at(frame(), 4, 3), 0xFF445566u);
}

TEST_F(ComposeGraphicsChanges, true_colour_page_gives_a_frame_only_when_it_changed) {
    ScreenImage& image = image_screen(32, 16, 32);
    ASSERT_TRUE(compose());
    present();
    EXPECT_FALSE(compose());
    set32(image, 31, 15, 0xFF0A0B0Cu);
    ASSERT_TRUE(compose());
    EXPECT_EQ(at(frame(), 31, 15), 0xFF0A0B0Cu);
}

TEST_F(ComposeGraphicsChanges, screen_lock_makes_an_unchanged_page_compose_again) {
    screen(13);
    ASSERT_TRUE(compose());
    present();
    EXPECT_FALSE(compose());
    screen_lock_acquire();
    screen_lock_release();
    EXPECT_TRUE(compose());
}

TEST_F(ComposeGraphicsChanges, another_display_page_is_compared_pixel_by_pixel) {
    screen(7); // eight 320 x 200 pages
    ASSERT_TRUE(compose());
    present();
    screen_mode(7, 0, 1, SCREEN_MODE_GIVEN | SCREEN_DISPLAY_PAGE_GIVEN);
    EXPECT_FALSE(compose()); // page 1 is blank too
    set(page(), 100, 50, 10);
    ASSERT_TRUE(compose());
    EXPECT_EQ(at(frame(), 100, 50), rgb(85, 255, 85));
}

TEST_F(ComposeGraphicsChanges, switching_between_text_and_graphics_redraws_everything) {
    ASSERT_TRUE(compose()); // the text start-up page
    present();
    ScreenImage& text = page();
    // A 640 x 400 graphics image has the text frame's size; shown without the screen lock (as
    // nothing but a test would), the composer must still not take the text frame for its own.
    int32_t slot = image_create(640, 400, 256);
    ScreenImage& graphics = *image_record(slot);
    set(graphics, 0, 0, 4);
    screen_state.display_page.store(&graphics);
    ASSERT_TRUE(compose());
    EXPECT_EQ(at(frame(), 0, 0), rgb(170, 0, 0));
    EXPECT_EQ(count_colour(frame(), BLACK), size_t(640 * 400 - 1));
    present();
    // Back to the text page: nothing of the graphics frame shows through (the blank page is
    // black all over, the cursor hidden in phase 0).
    screen_state.display_page.store(&text);
    ASSERT_TRUE(compose());
    EXPECT_EQ(count_colour(frame(), BLACK), size_t(640 * 400));
    present();
    // And to the graphics page again: its pixels are compared with a copy the text run did not
    // touch, but the newest frame is a text one, so it composes.
    screen_state.display_page.store(&graphics);
    ASSERT_TRUE(compose());
    EXPECT_EQ(at(frame(), 0, 0), rgb(170, 0, 0));
    screen_state.display_page.store(&text);
}

TEST_F(ComposeGraphicsChanges, screen_modes_in_turn_give_frames_of_their_sizes) {
    struct Step {
        int32_t mode, width, height;
    };
    for (Step s : {Step{13, 320, 200}, Step{0, 640, 400}, Step{9, 640, 350}, Step{2, 640, 200},
                   Step{12, 640, 480}, Step{0, 640, 400}}) {
        screen_mode(s.mode, 0, 0, SCREEN_MODE_GIVEN);
        ASSERT_TRUE(compose()) << s.mode;
        EXPECT_EQ(frame().width, s.width) << s.mode;
        EXPECT_EQ(frame().height, s.height) << s.mode;
        // The blank text page, whichever buffer it was composed into.
        if (s.mode == 0) {
            EXPECT_EQ(count_colour(frame(), BLACK), size_t(640 * 400));
        }
        present();
    }
}

// --- Mode 10 -------------------------------------------------------------------------------------

TEST_F(ComposeGraphicsMode10, colour_pairs_follow_bit_9_of_the_clock) {
    ScreenImage& image = screen(10);
    ASSERT_EQ(frame().width, 0); // nothing composed yet
    // Selectors 0, 4, 6, 8 at creation: black, grey, white blinking to black, white.
    for (uint8_t value = 0; value < 4; ++value) set(image, 10 + value, 20, value);
    set(image, 639, 349, 2);
    struct Phase {
        int64_t clock;
        uint32_t colours[4];
    };
    for (Phase p :
         {Phase{0, {BLACK, GREY, WHITE, WHITE}}, Phase{511, {BLACK, GREY, WHITE, WHITE}},
          Phase{512, {BLACK, GREY, BLACK, WHITE}}, Phase{1023, {BLACK, GREY, BLACK, WHITE}},
          Phase{1024, {BLACK, GREY, WHITE, WHITE}}}) {
        fake_clock = p.clock;
        compose();
        SCOPED_TRACE(p.clock);
        ASSERT_EQ(frame().width, 640);
        ASSERT_EQ(frame().height, 350);
        for (int32_t value = 0; value < 4; ++value)
            EXPECT_EQ(at(frame(), 10 + value, 20), p.colours[value]) << value;
        EXPECT_EQ(at(frame(), 639, 349), p.colours[2]);
        present();
    }
}

TEST_F(ComposeGraphicsMode10, every_selector_names_its_pair) {
    ScreenImage& image = screen(10);
    set(image, 0, 0, 1);
    // Pair k: first colour level k / 3, second k % 3, levels black, grey, white.
    const uint32_t levels[3] = {BLACK, GREY, WHITE};
    for (uint32_t k = 0; k < 9; ++k) {
        image_palette_store(image, 5, k); // value 1 uses entry 5
        for (int64_t clock : {int64_t(0), int64_t(512)}) {
            fake_clock = clock;
            compose();
            present();
            EXPECT_EQ(at(frame(), 0, 0), levels[clock == 0 ? k / 3 : k % 3])
                << "pair " << k << " clock " << clock;
        }
    }
    // A selector outside the table shows black.
    image_palette_store(image, 5, 9);
    ASSERT_TRUE(compose());
    EXPECT_EQ(at(frame(), 0, 0), BLACK);
    // The page's own entries 0 to 3 do not matter on a mode-10 page.
    present();
    image_palette_store(image, 1, 0xFF123456u);
    EXPECT_FALSE(compose());
}

TEST_F(ComposeGraphicsMode10, phase_flip_makes_a_frame_only_while_a_pair_blinks) {
    ScreenImage& image = screen(10);
    ASSERT_TRUE(compose());
    present();
    fake_clock = 512; // entry 2 (white/black) blinks
    EXPECT_TRUE(compose());
    present();
    image_palette_store(image, 6, 8); // white/white: nothing blinks any more
    fake_clock = 0;
    EXPECT_TRUE(compose()); // the selector change itself
    present();
    fake_clock = 512;
    EXPECT_FALSE(compose());
    fake_clock = 1024;
    EXPECT_FALSE(compose());
}

// --- Reference images ----------------------------------------------------------------------------

// Bands of every colour value across the page, a diagonal in the highest value and a frame line.
void fill_pattern(ScreenImage& image) {
    int32_t width = image.width, height = image.height;
    uint32_t mask = image.colour_mask & 0xFF;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            uint32_t value = uint32_t(x / 16 + (y / 16) * 7);
            if (x == y || x == 0 || y == 0 || x == width - 1 || y == height - 1) value = mask;
            image_cell_store(image, uint32_t(y * width + x), uint8_t(value & mask));
        }
}

TEST_F(ComposeGraphicsReference, whole_frames_match_reference_images) {
    struct Reference {
        int32_t mode;
        int64_t clock;
        const char* name;
    };
    for (Reference r : {Reference{1, 0, "compose_mode1"}, Reference{2, 0, "compose_mode2"},
                        Reference{9, 0, "compose_mode9"}, Reference{10, 0, "compose_mode10_phase0"},
                        Reference{10, 512, "compose_mode10_phase1"},
                        Reference{12, 0, "compose_mode12"}, Reference{13, 0, "compose_mode13"}}) {
        SCOPED_TRACE(r.name);
        fill_pattern(screen(r.mode));
        fake_clock = r.clock;
        ASSERT_TRUE(compose());
        expect_matches_reference(frame(), r.name);
        present();
    }
}

TEST_F(ComposeGraphicsReference, true_colour_frame_matches_its_reference_image) {
    ScreenImage& image = image_screen(64, 48, 32);
    for (int32_t y = 0; y < 48; ++y)
        for (int32_t x = 0; x < 64; ++x)
            set32(image, x, y,
                  (y < 40 ? 0xFF000000u : 0x80000000u) | uint32_t(x * 4) << 16 |
                      uint32_t(y * 5) << 8 | uint32_t((x + y) * 2));
    ASSERT_TRUE(compose());
    expect_matches_reference(frame(), "compose_mode32");
}

// --- Threads -------------------------------------------------------------------------------------

TEST_F(ComposeGraphicsThreads, drawing_while_the_display_thread_composes) {
    // The program thread draws while a display thread composes and a window thread presents; the
    // sanitizer builds check the hand-offs. The newest frame at the end shows the last state.
    ScreenImage& image = screen(13);
    composer_state.clock_ms = nullptr;
    std::atomic<bool> stop{false};
    std::atomic<int> frames_seen{0}, bad_frames{0};
    display_thread_running.store(1);
    std::thread display([&] {
        while (!stop.load(std::memory_order_acquire)) {
            display_tick();
            platform_sleep_ms(1);
        }
    });
    std::thread window([&] {
        while (!stop.load(std::memory_order_acquire)) {
            const DisplayFrame* latest = compose_ring_latest();
            if (latest != nullptr && !latest->presented.load()) {
                bad_frames.fetch_add(latest->width != 320 || latest->height != 200);
                compose_ring_mark_presented(latest);
                frames_seen.fetch_add(1);
            }
            compose_ring_consume_older();
            platform_sleep_ms(1);
        }
    });
    for (int32_t i = 0; i < 2000; ++i) {
        set(image, i % 320, (i / 320) * 10, uint8_t(32 + i % 200));
        if (i % 200 == 0) platform_sleep_ms(2);
    }
    set(image, 160, 100, 36);
    display_wait_frame();
    display_wait_frame();
    stop.store(true, std::memory_order_release);
    display.join();
    window.join();
    display_thread_running.store(0);
    EXPECT_GT(frames_seen.load(), 0);
    EXPECT_EQ(bad_frames.load(), 0);
    const DisplayFrame* latest = compose_ring_latest();
    ASSERT_NE(latest, nullptr);
    EXPECT_EQ(at(*latest, 160, 100), rgb(255, 0, 255));
}

} // namespace
