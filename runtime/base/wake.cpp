#include "runtime/base/wake.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

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
