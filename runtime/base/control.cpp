#include "runtime/base/control.h"

#include "runtime/base/event.h"
#include "runtime/platform/platform.h"

// The handshakes below are polled with short sleeps rather than waited on: the display thread
// paces itself with sleeps anyway, and a waiting program thread costs nothing while it sleeps.
// A display thread in the exit sequence grants nothing more, so the poll parks on a stop
// request.
std::atomic<int32_t> display_auto{1};
std::atomic<int32_t> screen_lock{0};
std::atomic<int32_t> window_hidden{0};
std::atomic<int32_t> display_thread_running{0};
std::atomic<int32_t> shell_running{0};
std::atomic<int32_t> compose_previous_valid{0};
std::atomic<int32_t> fullscreen_request{-1};
std::atomic<int32_t> fullscreen_mode{0};

void screen_lock_acquire() {
    // Without a composing display thread nothing reads the pages concurrently, and nobody would
    // ever grant the lock.
    if (!display_thread_composes()) {
        compose_previous_valid.store(0, std::memory_order_relaxed);
        return;
    }
    int32_t idle = 0;
    screen_lock.compare_exchange_strong(idle, 1, std::memory_order_relaxed);
    // Acquire: the composer's reads of the old pages are over once it has granted the lock.
    while (screen_lock.load(std::memory_order_acquire) != 2) {
        program_park_on_stop();
        platform_sleep_ms(0);
    }
    compose_previous_valid.store(0, std::memory_order_relaxed);
}

void screen_lock_release() {
    if (display_thread_running.load(std::memory_order_acquire) == 0) return;
    // Release: the new pages are complete before the composer may read them again.
    screen_lock.store(0, std::memory_order_release);
}

// Only start-up and test fixtures call this, while no other thread composes or presents.
void control_reset() {
    display_auto.store(1, std::memory_order_relaxed);
    screen_lock.store(0, std::memory_order_relaxed);
    window_hidden.store(0, std::memory_order_relaxed);
    display_thread_running.store(0, std::memory_order_relaxed);
    shell_running.store(0, std::memory_order_relaxed);
    compose_previous_valid.store(0, std::memory_order_relaxed);
}

// The presenter's reset: the full-screen handshake starts with no request and windowed.
void control_fullscreen_reset() {
    fullscreen_request.store(-1, std::memory_order_relaxed);
    fullscreen_mode.store(0, std::memory_order_relaxed);
}
