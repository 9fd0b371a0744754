// The frame composer on the start-up screen (80 x 25 cells, font 16, 640 x 400 pixels):
//   full     every cell drawn, as after a screen change;
//   one_cell one cell changed: the recycled buffer, which shows a frame a few runs old, gets the
//            cells that differ from it (one) drawn;
//   idle     nothing changed: the comparison alone, no frame (the display thread's usual run).
// and on graphics pages of 640 x 480 pixels:
//   graphics_changed  one pixel changed on a 4-bit (mode 12) page: snapshot, comparison and a
//                     whole frame looked up in the palette;
//   graphics_idle     the same page unchanged: snapshot and comparison, no frame;
//   true_colour       one pixel changed on a 32-bit page: snapshot, comparison and a copy.
// Each iteration also plays the presenter's part so that frame buffers are recycled.
#include <benchmark/benchmark.h>

#include "runtime/base/run_state.h"
#include "runtime/display/compose.h"
#include "runtime/display/font.h"
#include "runtime/memory/conv.h"
#include "runtime/screen/image.h"

namespace {

void start_screen() {
    display_reset();
    run_state_reset();
    conv_memory_init();
    font_state_reset();
    screen_startup();
    ScreenImage& page = *screen_display_page();
    for (uint32_t i = 0; i < 80 * 25; ++i) {
        image_cell_store(page, 2 * i, uint8_t('!' + i % 90));
        image_cell_store(page, 2 * i + 1, uint8_t(0x07 + (i / 80) * 0x10));
    }
}

void present() {
    const DisplayFrame* frame = compose_ring_latest();
    compose_ring_mark_presented(frame);
    compose_ring_consume_older();
}

void compose_full(benchmark::State& state) {
    start_screen();
    for (auto _ : state) {
        compose_previous_valid.store(0);
        display_compose();
        present();
    }
    state.counters["cells"] = composer_state.cells_drawn;
    display_reset();
    screen_reset();
}
BENCHMARK(compose_full)->Unit(benchmark::kMicrosecond);

void compose_one_cell(benchmark::State& state) {
    start_screen();
    display_compose();
    present();
    ScreenImage& page = *screen_display_page();
    // 26 letters in turn: the recycled buffer, a few frames old, shows another letter there.
    uint8_t character = 'a';
    for (auto _ : state) {
        image_cell_store(page, 2 * (12 * 80 + 40), character);
        character = character == 'z' ? 'a' : uint8_t(character + 1);
        display_compose();
        present();
    }
    state.counters["cells"] = composer_state.cells_drawn;
    display_reset();
    screen_reset();
}
BENCHMARK(compose_one_cell)->Unit(benchmark::kMicrosecond);

void compose_idle(benchmark::State& state) {
    start_screen();
    display_compose();
    present();
    int32_t newest = compose_ring.ring_newest.load();
    for (auto _ : state) {
        display_compose();
        present();
    }
    if (compose_ring.ring_newest.load() != newest) state.SkipWithError("an idle run made a frame");
    display_reset();
    screen_reset();
}
BENCHMARK(compose_idle)->Unit(benchmark::kMicrosecond);

ScreenImage& start_graphics_screen(int32_t mode) {
    start_screen();
    if (mode == 32) {
        int32_t slot = image_create(640, 480, 32);
        screen_mode(-slot, 0, 0, SCREEN_MODE_GIVEN);
    } else {
        screen_mode(mode, 0, 0, SCREEN_MODE_GIVEN);
    }
    ScreenImage& page = *screen_display_page();
    uint32_t bytes = uint32_t(image_array_bytes(page));
    for (uint32_t i = 0; i < bytes; ++i) image_cell_store(page, i, uint8_t(i / 7 + i / 640));
    return page;
}

void compose_graphics_page(benchmark::State& state, int32_t mode, bool change) {
    ScreenImage& page = start_graphics_screen(mode);
    display_compose();
    present();
    int32_t newest = compose_ring.ring_newest.load();
    int32_t frames = 0;
    uint8_t value = 1;
    for (auto _ : state) {
        if (change) {
            image_cell_store(page, 240 * 640 + 320, value);
            value = value == 1 ? 2 : 1;
        }
        display_compose();
        present();
        frames += compose_ring.ring_newest.load() != newest;
        newest = compose_ring.ring_newest.load();
    }
    if (frames != (change ? int32_t(state.iterations()) : 0))
        state.SkipWithError("frames made do not follow the page's changes");
    state.counters["pixels"] = 640 * 480;
    display_reset();
    screen_reset();
}

void compose_graphics_changed(benchmark::State& state) {
    compose_graphics_page(state, 12, true);
}
BENCHMARK(compose_graphics_changed)->Unit(benchmark::kMicrosecond);

void compose_graphics_idle(benchmark::State& state) {
    compose_graphics_page(state, 12, false);
}
BENCHMARK(compose_graphics_idle)->Unit(benchmark::kMicrosecond);

void compose_true_colour_changed(benchmark::State& state) {
    compose_graphics_page(state, 32, true);
}
BENCHMARK(compose_true_colour_changed)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
