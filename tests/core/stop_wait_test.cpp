// Every wait of the run-time ends on a stop request that arrives without the wake-up signal: the
// display thread's exit sequence waits until the program and timer threads have parked, so a
// wait that only wakes on the signal would hang the process when that signal is missed. Each
// case runs one kind of wait on a thread of its own, lets it fall asleep, stores stop_requested
// with a plain store (no event_pending, no keys_wake_waiters) and expects the wait to end by
// returning or parking. A watchdog sends the wake-up the case withheld, so a wait that does not
// end makes the case fail instead of hanging the run.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "runtime/base/control.h"
#include "runtime/base/event.h"
#include "runtime/base/run_state.h"
#include "runtime/core/frame.h"
#include "runtime/core/runtime.h"
#include "runtime/display/compose.h"
#include "runtime/display/display.h"
#include "runtime/input/detail.h"
#include "runtime/input/keys.h"
#include "runtime/input/line_input.h"
#include "runtime/input/wait.h"
#include "runtime/platform/platform.h"
#include "screen/screen_fixture.h"
#include "support/watchdog.h"

namespace {

constexpr uint32_t PROGRAM_PARKED = 1;
constexpr uint32_t TIMER_FINISHED = 2;

struct StopCase {
    const char* name;
    // Runs on the test thread before the wait starts: the state the wait needs.
    void (*prepare)();
    // The wait, on a thread of its own standing for the program (or timer) thread.
    void (*wait)();
    // The bit of parked_threads the wait sets when it ends by parking or finishing; a wait that
    // returns instead sets the case's own flag.
    uint32_t ended_bit;
};

void nothing() {}

// A display thread that has entered the exit sequence: it runs, but answers nothing any more.
void display_thread_stopped() {
    display_thread_running.store(1);
    display_auto.store(1);
}

BasicString* drive = nullptr;
void prompt_variable() {
    drive = str_new(0, false);
    input_set_variable(1, INPUT_TYPE_STRING, drive);
}

// The line is typed and Enter pressed; the statement then hands the last frame to a display
// thread that never answers.
void line_typed_with_display_off() {
    prompt_variable();
    for (KeyCode key : {KeyCode('E'), KeyCode(13)}) {
        key_down(key);
        key_up(key);
    }
    display_auto.store(0);
    display_thread_running.store(1);
}

const StopCase STOP_CASES[] = {
    {"line_input", prompt_variable, [] { input_values(1, 1); }, 0},
    {"line_input_last_frame", line_typed_with_display_off, [] { input_values(1, 1); },
     PROGRAM_PARKED},
    {"sleep_until_key", nothing, sleep_until_key, PROGRAM_PARKED},
    {"timed_sleep", nothing, [] { sleep_seconds(3600, 1); }, PROGRAM_PARKED},
    {"inkey_wait_new", nothing, [] { inkey_wait_new(str_temp_mark()); }, PROGRAM_PARKED},
    {"end_closing_prompt", nothing, [] { program_end(); }, PROGRAM_PARKED},
    {"paused_statement", [] { run_state.pause_state.store(1); }, [] { event_poll(7); },
     PROGRAM_PARKED},
    {"timer_thread", nothing, timer_thread_main, TIMER_FINISHED},
    {"display_now", display_thread_stopped, display_now, PROGRAM_PARKED},
    {"display_wait_frame", display_thread_stopped, display_wait_frame, PROGRAM_PARKED},
    {"screen_lock", display_thread_stopped, screen_lock_acquire, PROGRAM_PARKED},
};

// What the withheld wake-up and the missing display thread would have done, so that a wait that
// ignores the stop request still ends. Repeated, since display_wait_frame waits for two runs.
void answer_once() {
    display_auto.store(0);
    compose_done.store(1);
    screen_lock.store(2);
    keys_wake_waiters();
}

class StopWithoutWakeUp : public ScreenTest, public ::testing::WithParamInterface<StopCase> {
  protected:
    void SetUp() override {
        ScreenTest::SetUp();
        keys_reset();
        input_reset();
        control_reset();
        wait_set_literal_spin(false); // the waits that sleep on the wake-up signal
    }
    void TearDown() override {
        control_reset();
        ScreenTest::TearDown();
    }
};

TEST_P(StopWithoutWakeUp, ends_the_wait) {
    const StopCase& c = GetParam();
    c.prepare();
    // Shared with the waiting thread, which outlives the test when it parks.
    auto returned = std::make_shared<std::atomic<bool>>(false);
    std::thread([returned, wait = c.wait] {
        wait();
        returned->store(true, std::memory_order_release);
    }).detach();
    // Long enough for the wait to be asleep; were it not yet, it would see the stop request on
    // its first look and the case would pass without testing the recheck, never fail wrongly.
    platform_sleep_ms(100);
    ASSERT_EQ(run_state.parked_threads.load() & c.ended_bit, 0u) << "ended before the stop";
    ASSERT_FALSE(returned->load()) << "returned before the stop";

    auto ended = [&] {
        return returned->load(std::memory_order_acquire) ||
               (c.ended_bit != 0 &&
                (run_state.parked_threads.load(std::memory_order_acquire) & c.ended_bit) != 0);
    };
    run_state.stop_requested.store(1, std::memory_order_relaxed);
    Watchdog watchdog(10000, [&] {
        while (!ended()) {
            answer_once();
            platform_sleep_ms(5);
        }
    });
    while (!ended()) platform_sleep_ms(5);
    EXPECT_FALSE(watchdog.finish()) << c.name << " ended only on the wake-up signal";
    if (c.ended_bit == 0) {
        EXPECT_TRUE(returned->load());
    }
}

INSTANTIATE_TEST_SUITE_P(EveryWait, StopWithoutWakeUp, ::testing::ValuesIn(STOP_CASES),
                         [](const ::testing::TestParamInfo<StopCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
