#include "runtime/input/wait.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "runtime/base/control.h"
#include "runtime/base/error.h"
#include "runtime/base/event.h"
#include "runtime/base/run_state.h"
#include "runtime/base/wake.h"
#include "runtime/input/detail.h"
#include "runtime/input/keys.h"
#include "runtime/platform/platform.h"

namespace {

// The polling step of the sleep statement when it polls.
constexpr uint32_t LITERAL_SLEEP_STEP_MS = 9;
// The longest a wait sleeps on the wake-up signal before it looks again on its own: the event
// poll must still run now and then (a timer trap, a pause), and a wake-up that nobody sends
// (an exit sequence that does not call keys_wake_waiters) must not hang the program thread.
constexpr uint32_t WAKE_SAFETY_MS = 50;
static_assert(WAKE_SAFETY_MS <= WAIT_RECHECK_MS);

// -1 until the first wait reads UNVEILO_LITERAL_SPIN, then 0 (wake-up signal) or 1 (polling).
// Program thread, and tests before they start threads.
std::atomic<int32_t> literal_spin{-1};

bool stop_requested() {
    return run_state.stop_requested.load(std::memory_order_relaxed) != 0;
}

// Sleeps for delay_ms, or less if a key event after `seen` arrives first (unless polling).
void idle(bool literal, uint32_t seen, uint32_t delay_ms) {
    if (literal) {
        platform_sleep_ms(delay_ms);
    } else {
        key_event_wait(seen, delay_ms);
    }
}

// Called once as a wait begins: the program is about to sit idle, so what it printed last (the
// echo of a key, a prompt) is shown without waiting for the display thread's next tick.
void show_before_waiting(bool literal) {
    if (!literal) display_wake();
}

// Takes one key out of the buffer and frees the statement's temporaries; true if there was one.
bool take_one_key(int32_t mark) {
    bool taken = inkey_read()->length != 0;
    str_cleanup(mark, 0);
    return taken;
}

} // namespace

bool wait_literal_spin() {
    int32_t mode = literal_spin.load(std::memory_order_relaxed);
    if (mode < 0) {
        const char* requested = std::getenv("UNVEILO_LITERAL_SPIN");
        mode = requested && std::strcmp(requested, "1") == 0 ? 1 : 0;
        literal_spin.store(mode, std::memory_order_relaxed);
    }
    return mode == 1;
}

void wait_set_literal_spin(bool literal) {
    literal_spin.store(literal ? 1 : 0, std::memory_order_relaxed);
}

BasicString* inkey_read() {
    if (error_pending()) return str_new(0, true);
    platform_sleep_ms(0); // gives up the rest of the time slice, as a polling reader should
    uint8_t character = 0, scan_code = 0;
    if (!bios_key_buffer_take(character, scan_code)) return str_new(0, true);
    // An extended key is character 0 followed by its scan code; a pair of two zeros (the code-0
    // key) reads as a single character 0.
    bool extended = character == 0 && scan_code != 0;
    BasicString* key = str_new(extended ? 2 : 1, true);
    key->chars[0] = character;
    if (extended) key->chars[1] = scan_code;
    return key;
}

void sleep_seconds(int32_t seconds, int32_t has_seconds) {
    if (error_pending()) return;
    key_pressed_flag.store(0, std::memory_order_relaxed); // only presses from now on count

    bool literal = wait_literal_spin();
    uint32_t step_ms = literal ? LITERAL_SLEEP_STEP_MS : WAKE_SAFETY_MS;
    double wait_ms = has_seconds ? seconds * 1000.0 : 0.0;
    int64_t start_ms = has_seconds ? platform_clock_ms() : 0;
    show_before_waiting(literal);
    for (;;) {
        // Read before the tests below: a press after them moves the sequence and ends the idle.
        uint32_t seen = key_event_sequence_now();
        event_poll(0);
        if (key_pressed_flag.load(std::memory_order_relaxed) != 0) return;
        if (stop_requested()) return;
        if (wait_ms <= 0) {
            idle(literal, seen, step_ms);
            continue;
        }
        int64_t now_ms = platform_clock_ms();
        if (now_ms < start_ms) return; // a clock that runs backwards ends the wait
        double elapsed_ms = double(now_ms - start_ms);
        if (elapsed_ms >= wait_ms) return;
        double rest_ms = std::max(1.0, std::trunc(wait_ms - elapsed_ms));
        if (rest_ms <= step_ms) {
            idle(literal, seen, uint32_t(rest_ms));
            return;
        }
        idle(literal, seen, step_ms);
    }
}

void sleep_until_key() {
    sleep_seconds(0, 0);
}

void inkey_wait_new(int32_t mark) {
    bool literal = wait_literal_spin();
    while (take_one_key(mark)) platform_sleep_ms(0);
    // Release, as display_auto_on does: the composer state used by an earlier display_now
    // passes to the display thread with it.
    display_auto.store(1, std::memory_order_release);
    show_before_waiting(literal);
    for (;;) {
        uint32_t seen = key_event_sequence_now();
        if (literal) platform_sleep_ms(0);
        program_park_on_stop();
        if (take_one_key(mark)) return;
        // As the input statement: a key or the exit sequence's wake-up ends it, and a look every
        // WAIT_RECHECK_MS finds a stop request whose wake-up went missing.
        if (!literal) key_event_wait(seen, WAIT_RECHECK_MS);
    }
}
