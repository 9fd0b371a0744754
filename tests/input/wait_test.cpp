#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "runtime/base/run_state.h"
#include "runtime/display/display.h"
#include "runtime/display/window_input.h"
#include "runtime/input/detail.h"
#include "runtime/input/keys.h"
#include "runtime/input/wait.h"
#include "runtime/memory/conv.h"
#include "runtime/platform/platform.h"
#include "runtime/strings/detail.h"
#include "runtime/strings/str.h"
#include "support/watchdog.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t ms_since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Polls `condition` every millisecond for up to `limit_ms`; false if it never held.
bool eventually(const std::function<bool()>& condition, int limit_ms = 5000) {
    Clock::time_point start = Clock::now();
    while (!condition()) {
        if (ms_since(start) > limit_ms) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool buffer_empty() {
    return conv_load8(BIOS_KEYBOARD_HEAD) == conv_load8(BIOS_KEYBOARD_TAIL);
}

void rescue_sleep() {
    key_pressed_flag.store(1);
    keys_wake_waiters();
}

void rescue_key_wait() {
    key_down('!');
}

// The waits are run in both idle strategies: the wake-up signal and plain polling.
class WaitTest : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        run_state_reset();
        conv_memory_init();
        str_engine_reset();
        keys_reset();
        wait_set_literal_spin(GetParam());
        mark_ = str_temp_mark();
    }
    void TearDown() override {
        EXPECT_EQ(str_temp_mark(), mark_);
        EXPECT_STREQ(str_check_invariants(), "");
    }

    // inkey_read as the program sees it, its temporary freed.
    std::string read() {
        BasicString* key = inkey_read();
        EXPECT_TRUE(key->is_temporary);
        std::string text(reinterpret_cast<const char*>(key->chars), size_t(key->length));
        str_cleanup(mark_, 0);
        return text;
    }
    static void type(unsigned char c) {
        key_down(c);
        key_up(c);
    }
    // Marks the point where a sleep has begun: it clears key_pressed_flag on entry.
    static void arm_sleep_probe() { key_pressed_flag.store(1); }
    static bool sleep_started() { return key_pressed_flag.load() == 0; }

    int32_t mark_ = 0;
};

INSTANTIATE_TEST_SUITE_P(Idle, WaitTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "literal_spin" : "wake_signal";
                         });

// --- inkey_read --------------------------------------------------------------------------------

TEST_P(WaitTest, inkey_read_empty_character_and_extended_key) {
    EXPECT_EQ(read(), "");
    type('a');
    EXPECT_EQ(read(), "a");
    key_down(KEY_UP);
    EXPECT_EQ(read(), std::string("\0\x48", 2));
    key_down(0); // the code-0 key is a single character 0
    EXPECT_EQ(read(), std::string("\0", 1));
    key_down(KEY_LEFT_CTRL);
    type('2'); // Ctrl+2 is character 0 with scan code 3
    EXPECT_EQ(read(), std::string("\0\x03", 2));
    EXPECT_EQ(read(), "");
}

TEST_P(WaitTest, inkey_read_keeps_the_order_across_the_wrap) {
    std::string typed, got;
    for (int round = 0; round < 4; ++round) {
        for (int i = 0; i < 11; ++i) {
            unsigned char c = static_cast<unsigned char>('a' + (round * 11 + i) % 26);
            type(c);
            typed += char(c);
        }
        for (std::string key = read(); !key.empty(); key = read()) got += key;
    }
    EXPECT_EQ(got, typed);
    EXPECT_NE(conv_load8(BIOS_KEYBOARD_HEAD), 0x1E); // 44 keys: the head went round and on
}

TEST_P(WaitTest, inkey_read_takes_nothing_while_an_error_is_pending) {
    type('a');
    run_state.error_code.store(5);
    EXPECT_EQ(read(), "");
    run_state.error_code.store(0);
    EXPECT_EQ(read(), "a");
}

// --- sleep_seconds / sleep_until_key -----------------------------------------------------------

TEST_P(WaitTest, sleep_until_key_is_not_ended_by_a_buffered_key) {
    type('x');
    arm_sleep_probe();
    std::atomic<bool> pressed{false};
    std::thread window([&] {
        EXPECT_TRUE(eventually(sleep_started));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pressed.store(true);
        type('y');
    });
    Watchdog watchdog(5000, rescue_sleep);
    sleep_until_key();
    EXPECT_FALSE(watchdog.finish());
    EXPECT_TRUE(pressed.load()); // it returned on the new press, not before
    window.join();
    // Both keys are still there for the reads that follow.
    EXPECT_EQ(read(), "x");
    EXPECT_EQ(read(), "y");
}

TEST_P(WaitTest, sleep_until_key_ends_on_shift_with_the_buffer_empty) {
    arm_sleep_probe();
    std::atomic<bool> pressed{false};
    std::thread window([&] {
        EXPECT_TRUE(eventually(sleep_started));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pressed.store(true);
        window_key_special(112, true);
        window_key_special(112, false);
    });
    Watchdog watchdog(5000, rescue_sleep);
    sleep_until_key();
    EXPECT_FALSE(watchdog.finish());
    EXPECT_TRUE(pressed.load());
    window.join();
    EXPECT_EQ(read(), "");
}

TEST_P(WaitTest, sleep_until_key_ignores_releases) {
    key_down(KEY_LEFT_SHIFT); // down before the sleep
    arm_sleep_probe();
    std::atomic<bool> pressed{false};
    std::thread window([&] {
        EXPECT_TRUE(eventually(sleep_started));
        key_up(KEY_LEFT_SHIFT);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pressed.store(true);
        type('k');
    });
    Watchdog watchdog(5000, rescue_sleep);
    sleep_until_key();
    EXPECT_FALSE(watchdog.finish());
    EXPECT_TRUE(pressed.load());
    window.join();
    EXPECT_EQ(read(), "k");
}

TEST_P(WaitTest, sleep_seconds_zero_or_negative_waits_without_limit) {
    for (int32_t seconds : {0, -1}) {
        SCOPED_TRACE(seconds);
        arm_sleep_probe();
        std::atomic<bool> pressed{false};
        std::thread window([&] {
            EXPECT_TRUE(eventually(sleep_started));
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            pressed.store(true);
            type(' ');
        });
        Watchdog watchdog(5000, rescue_sleep);
        sleep_seconds(seconds, 1);
        EXPECT_FALSE(watchdog.finish());
        EXPECT_TRUE(pressed.load());
        window.join();
        EXPECT_EQ(read(), " ");
    }
}

TEST_P(WaitTest, sleep_seconds_returns_after_its_time) {
    Clock::time_point start = Clock::now();
    Watchdog watchdog(10000, rescue_sleep);
    sleep_seconds(1, 1);
    int64_t elapsed_ms = ms_since(start);
    EXPECT_FALSE(watchdog.finish());
    EXPECT_GE(elapsed_ms, 900);
    EXPECT_LT(elapsed_ms, 5000);
}

TEST_P(WaitTest, sleep_seconds_with_a_limit_still_ends_on_a_key) {
    arm_sleep_probe();
    std::thread window([&] {
        EXPECT_TRUE(eventually(sleep_started));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        type('q');
    });
    Clock::time_point start = Clock::now();
    sleep_seconds(20, 1);
    EXPECT_LT(ms_since(start), 5000);
    window.join();
}

TEST_P(WaitTest, sleep_seconds_returns_at_once_while_an_error_is_pending) {
    run_state.error_code.store(5);
    key_pressed_flag.store(1);
    Clock::time_point start = Clock::now();
    sleep_seconds(20, 1);
    EXPECT_LT(ms_since(start), 1000);
    EXPECT_EQ(key_pressed_flag.load(), 1); // returned before it looked at the keys
    run_state.error_code.store(0);
}

TEST_P(WaitTest, a_pause_holds_the_sleep_until_the_next_key) {
    arm_sleep_probe();
    std::atomic<bool> returned{false};
    std::atomic<bool> held_while_paused{false};
    std::thread window([&] {
        EXPECT_TRUE(eventually(sleep_started));
        window_event_hook(2, KEY_PAUSE, 1);
        window_event_hook(2, KEY_PAUSE, -1);
        // The Pause press is a key press, but the sleep is held in the event poll.
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        held_while_paused.store(!returned.load());
        type('r'); // resumes; the key itself is consumed
    });
    Watchdog watchdog(5000, [] {
        run_state.pause_state.store(0);
        rescue_sleep();
    });
    sleep_until_key();
    returned.store(true);
    EXPECT_FALSE(watchdog.finish());
    window.join();
    EXPECT_TRUE(held_while_paused.load());
    EXPECT_EQ(run_state.pause_state.load(), 0);
    EXPECT_EQ(read(), "");
}

// A stop request parks the program thread wherever it waits. The waiting thread never comes back
// from the park, so it is left behind detached, asleep for good.
void expect_prompt_park(std::function<void()> wait, bool send_wake_up) {
    key_pressed_flag.store(1);
    std::atomic<bool> started{false};
    std::thread program([&started, wait] {
        started.store(true);
        wait();
    });
    program.detach();
    ASSERT_TRUE(eventually([&] { return started.load() && key_pressed_flag.load() == 0; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(30)); // well inside the wait
    Clock::time_point start = Clock::now();
    // What the exit sequence does.
    run_state.stop_requested.store(1);
    run_state.event_pending.store(1, std::memory_order_release);
    if (send_wake_up) keys_wake_waiters();
    ASSERT_TRUE(eventually([] { return (run_state.parked_threads.load() & 1) != 0; }, 2000));
    EXPECT_LT(ms_since(start), 200);
}

TEST_P(WaitTest, stop_request_parks_sleep_until_key_promptly) {
    expect_prompt_park(sleep_until_key, true);
}

TEST_P(WaitTest, stop_request_parks_sleep_until_key_without_a_wake_up) {
    expect_prompt_park(sleep_until_key, false);
}

// --- inkey_wait_new ----------------------------------------------------------------------------

TEST_P(WaitTest, inkey_wait_new_ignores_earlier_keys_and_takes_the_next) {
    type('a');
    type('b');
    display_auto.store(0);
    std::atomic<bool> pressed{false};
    std::thread window([&] {
        EXPECT_TRUE(eventually([] { return buffer_empty() && display_auto.load() == 1; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        // A modifier puts nothing in the buffer and does not end the wait.
        window_key_special(114, true);
        window_key_special(114, false);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pressed.store(true);
        type('c');
    });
    Watchdog watchdog(5000, rescue_key_wait);
    inkey_wait_new(mark_);
    EXPECT_FALSE(watchdog.finish());
    EXPECT_TRUE(pressed.load());
    window.join();
    EXPECT_EQ(display_auto.load(), 1);
    EXPECT_EQ(read(), ""); // the new key was consumed
}

TEST_P(WaitTest, inkey_wait_new_frees_the_temporaries_of_its_reads) {
    for (unsigned char c : std::string("0123456789")) type(c);
    display_auto.store(0);
    std::thread window([] {
        // An empty buffer alone is not enough: a key typed before the earlier keys have all been
        // taken is one of them, and the wait would go on for the next. display_auto turns 1 only
        // once they have.
        EXPECT_TRUE(eventually([] { return buffer_empty() && display_auto.load() == 1; }));
        type('z');
    });
    Watchdog watchdog(5000, rescue_key_wait);
    inkey_wait_new(mark_);
    EXPECT_FALSE(watchdog.finish());
    window.join();
    EXPECT_EQ(str_temp_mark(), mark_);
}

TEST_P(WaitTest, stop_request_parks_inkey_wait_new_promptly) {
    int32_t mark = mark_;
    expect_prompt_park(
        [mark] {
            key_pressed_flag.store(0); // the probe: inkey_wait_new does not touch the flag
            inkey_wait_new(mark);
        },
        true);
}

} // namespace
