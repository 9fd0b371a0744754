// The frame composer on the start-up screen (80 x 25 cells, font 16, 640 x 400 pixels):
//   full     every cell drawn, as after a screen change;
//   one_cell one cell changed, so the previous frame is copied and one cell drawn;
//   idle     nothing changed: the comparison alone, no frame (the display thread's usual run).
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
    uint8_t character = 'a';
    for (auto _ : state) {
        image_cell_store(page, 2 * (12 * 80 + 40), character);
        character = character == 'a' ? 'b' : 'a';
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

} // namespace

BENCHMARK_MAIN();
