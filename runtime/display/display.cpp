#include "runtime/display/display.h"

#include "runtime/base/event.h"
#include "runtime/display/compose.h"
#include "runtime/platform/platform.h"

// The handshakes below are polled with short sleeps rather than waited on: the display thread
// paces itself with sleeps anyway, and a waiting program thread costs nothing while it sleeps.
// A display thread in the exit sequence answers no more, so every poll also parks on a stop
// request.
std::atomic<int32_t> compose_done{0};
std::atomic<int32_t> compose_tick_count{0};

void display_now() {
    if (!display_thread_composes()) {
        display_auto.store(0, std::memory_order_relaxed);
        display_compose();
        return;
    }
    // Release/acquire both ways: the composer state passes to this thread with the 0 the
    // display thread stores after its last run.
    display_auto.store(-1, std::memory_order_release);
    while (display_auto.load(std::memory_order_acquire) != 0) {
        program_park_on_stop();
        platform_sleep_ms(1);
    }
}

void display_auto_on() {
    // Release: hands the composer state (last used here by display_now) to the display thread.
    display_auto.store(1, std::memory_order_release);
}

void display_wait_frame() {
    if (!display_thread_composes()) {
        display_compose();
        return;
    }
    // The first run to finish may have read the page before this call; the second one began
    // after the first had finished, so it shows the page as it is now.
    for (int run = 0; run < 2; ++run) {
        compose_done.store(0, std::memory_order_relaxed);
        while (compose_done.load(std::memory_order_acquire) == 0) {
            program_park_on_stop();
            platform_sleep_ms(1);
        }
    }
}
