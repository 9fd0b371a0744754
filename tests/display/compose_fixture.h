#pragma once
// What the composer tests share: a fresh start-up screen (80 x 25 text, font 16, in the emulated
// video memory), fresh fonts and an empty ring, with no display thread; and the steps of the
// display thread and the presenter that the tests take by hand.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>

#include "runtime/base/run_state.h"
#include "runtime/display/compose.h"
#include "runtime/display/display.h"
#include "runtime/display/font.h"
#include "runtime/memory/conv.h"
#include "runtime/screen/image.h"

class ComposeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        display_reset();
        run_state_reset();
        conv_memory_init();
        font_state_reset();
        screen_startup();
    }
    void TearDown() override {
        display_reset();
        screen_reset(); // frees the pages' palettes
    }

    static ScreenImage& page() { return *screen_display_page(); }
    static int32_t newest() { return compose_ring.ring_newest.load(); }
    static const DisplayFrame& frame() { return compose_ring.slots[size_t(newest())]; }
    // Composes and reports whether a new frame appeared.
    static bool compose() {
        int32_t before = newest();
        compose_done.store(0);
        display_compose();
        EXPECT_EQ(compose_done.load(), 1);
        return newest() != before;
    }
    // What the presenter does with each new frame, so that the ring never fills.
    static void present() {
        const DisplayFrame* latest = compose_ring_latest();
        compose_ring_mark_presented(latest);
        compose_ring_consume_older();
    }
    static uint32_t at(const DisplayFrame& f, int32_t x, int32_t y) {
        return f.pixels[size_t(y) * size_t(f.width) + size_t(x)];
    }
};
