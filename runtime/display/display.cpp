#include "runtime/display/display.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "runtime/display/compose.h"
#include "runtime/platform/platform.h"

// The handshakes below are polled with short sleeps rather than waited on: the display thread
// paces itself with sleeps anyway, and a waiting program thread costs nothing while it sleeps.
std::atomic<int32_t> display_auto{1};
std::atomic<int32_t> compose_done{0};
std::atomic<int32_t> frame_counter{0};
std::atomic<int32_t> screen_lock{0};
std::atomic<int32_t> window_hidden{0};
std::atomic<int32_t> display_thread_running{0};
std::atomic<int32_t> shell_running{0};

namespace {

// With no display thread nobody else would compose, so the caller does it itself.
bool display_thread_composes() {
    return display_thread_running.load(std::memory_order_acquire) != 0 &&
           display_auto.load(std::memory_order_acquire) != 0;
}

} // namespace

void display_now() {
    if (!display_thread_composes()) {
        display_auto.store(0, std::memory_order_relaxed);
        display_compose();
        return;
    }
    // Release/acquire both ways: the composer state passes to this thread with the 0 the
    // display thread stores after its last run.
    display_auto.store(-1, std::memory_order_release);
    while (display_auto.load(std::memory_order_acquire) != 0) platform_sleep_ms(1);
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
        while (compose_done.load(std::memory_order_acquire) == 0) platform_sleep_ms(1);
    }
}

void screen_lock_acquire() {
    // Without a composing display thread nothing reads the pages concurrently, and nobody would
    // ever grant the lock.
    if (!display_thread_composes()) {
        composer_state.previous_valid.store(0, std::memory_order_relaxed);
        return;
    }
    int32_t idle = 0;
    screen_lock.compare_exchange_strong(idle, 1, std::memory_order_relaxed);
    // Acquire: the composer's reads of the old pages are over once it has granted the lock.
    while (screen_lock.load(std::memory_order_acquire) != 2) platform_sleep_ms(0);
    composer_state.previous_valid.store(0, std::memory_order_relaxed);
}

void screen_lock_release() {
    if (display_thread_running.load(std::memory_order_acquire) == 0) return;
    // Release: the new pages are complete before the composer may read them again.
    screen_lock.store(0, std::memory_order_release);
}

namespace {
// display_wake (program thread) to display_idle_wait (display thread).
std::mutex wake_mutex;
std::condition_variable wake_signal;
bool wake_requested = false; // guarded by wake_mutex
} // namespace

void display_wake() {
    {
        std::lock_guard<std::mutex> lock(wake_mutex);
        wake_requested = true;
    }
    wake_signal.notify_one();
}

bool display_idle_wait(uint32_t delay_ms) {
    std::unique_lock<std::mutex> lock(wake_mutex);
    bool woken = wake_signal.wait_for(lock, std::chrono::milliseconds(delay_ms),
                                      [] { return wake_requested; });
    wake_requested = false;
    return woken;
}
