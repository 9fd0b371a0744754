// The signal the program thread's key waits sleep on. Guarantees that a press between a waiter's
// test of its condition and its sleep is not missed: the waiter reads the sequence first and
// sleeps only while it has not moved.
#include <algorithm>
#include <chrono>
#include <condition_variable>

#include "runtime/base/run_state.h"
#include "runtime/input/key_layer.h"

namespace {

// Bumped (release) by every key press and wake-up call, after the press has landed in the BIOS
// buffer and key_pressed_flag; loaded (acquire) by the program thread's waits.
std::atomic<uint32_t> key_event_sequence{0};
std::mutex wake_lock;
std::condition_variable wake_signal;

} // namespace

void key_layer_internal::signal_key_event() {
    key_event_sequence.fetch_add(1, std::memory_order_release);
    // Taking the lock once orders this bump against a waiter between its test and its sleep.
    { std::lock_guard<std::mutex> guard(wake_lock); }
    wake_signal.notify_all();
}

uint32_t key_event_sequence_now() {
    return key_event_sequence.load(std::memory_order_acquire);
}

bool key_event_wait(uint32_t seen, uint32_t timeout_ms) {
    std::unique_lock<std::mutex> guard(wake_lock);
    auto moved = [seen] { return key_event_sequence.load(std::memory_order_acquire) != seen; };
    uint32_t delay_ms = std::min(timeout_ms, WAIT_RECHECK_MS);
    return wake_signal.wait_for(guard, std::chrono::milliseconds(delay_ms), moved);
}

void keys_wake_waiters() {
    key_layer_internal::signal_key_event();
}
