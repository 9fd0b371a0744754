// Start-up, the display thread, the BIOS tick and the exit sequence, driven through runtime_main
// with a fake window in place of the window library. The process ends in the exit sequence, so
// each run is a death test; the fake window reports what it saw on standard error and the test
// matches that report and the exit status.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "runtime/base/run_state.h"
#include "runtime/display/compose.h"
#include "runtime/input/keys.h"
#include "runtime/memory/conv.h"
#include "runtime/platform/platform.h"
#include "runtime/strings/str_hooks.h"
#include "runtime/unveilo.h"

namespace {

constexpr int64_t STEP_TIMEOUT_MS = 10000;
constexpr int32_t PROGRAM_EXIT_CODE = 42;
constexpr char CLOSING_PROMPT[] = "Press any key to continue";

// Set by the close hook that program_end must call (program thread); read by the fake window.
std::atomic<int> files_closed{0};

void close_all_files() {
    files_closed.store(1, std::memory_order_release);
}

// Gives up the whole run with a message when a step does not happen in time.
template <typename Condition> void wait_for(const char* what, Condition condition) {
    int64_t deadline = platform_clock_ms() + STEP_TIMEOUT_MS;
    while (!condition()) {
        if (platform_clock_ms() > deadline) {
            std::fprintf(stderr, "fake window: timed out waiting for %s\n", what);
            std::fflush(stderr);
            std::_Exit(2);
        }
        platform_sleep_ms(5);
    }
}

uint32_t bios_ticks() {
    return conv_load8(BIOS_TIMER_TICKS) | uint32_t(conv_load8(BIOS_TIMER_TICKS + 1)) << 8 |
           uint32_t(conv_load8(BIOS_TIMER_TICKS + 2)) << 16;
}

// The characters of text row `row` (1-based) of the 80 x 25 start-up screen.
std::string text_row(int row) {
    std::string text;
    for (int column = 0; column < 80; ++column)
        text += char(conv_load8(TEXT_VIDEO_BASE + uint32_t((row - 1) * 160 + column * 2)));
    return text;
}

void test_program() {
    int32_t mark = program_enter();
    frame_print_item(str_new_cstring("started"));
    frame_print_end(mark, 1);
    run_state.exit_code.store(PROGRAM_EXIT_CODE, std::memory_order_relaxed);
    frame_end(2);
}

// Plays the window thread: watches the display thread compose and the tick advance, answers the
// closing prompt with a key, then stays in its "event loop" as the real window does until the
// exit sequence ends the process.
int fake_window(int, char**) {
    wait_for("the program's first line", [] { return text_row(1).rfind("started", 0) == 0; });
    wait_for("a composed frame", [] {
        const DisplayFrame* frame = compose_ring_latest();
        return frame != nullptr && frame->width == 640 && frame->height == 400;
    });
    uint32_t first_ticks = bios_ticks();
    wait_for("the BIOS tick to advance", [first_ticks] { return bios_ticks() != first_ticks; });
    wait_for("the closing prompt", [] { return text_row(25).rfind(CLOSING_PROMPT, 0) == 0; });
    std::fprintf(stderr, "fake window: frame composed, ticks advancing, prompt shown, files %s\n",
                 files_closed.load(std::memory_order_acquire) ? "closed" : "open");
    std::fflush(stderr);
    key_down(' ');
    key_up(' ');
    wait_for("the exit sequence", [] { return false; });
    return 1;
}

// runtime_main as a program's main() calls it; never returns while the window does not.
void run(ProgramMain program, WindowMain window) {
    char name[] = "unveilo_tests";
    char* argv[] = {name, nullptr};
    runtime_main(1, argv, program, window);
}

TEST(runtime_main, fake_window_start_up_display_tick_and_exit_sequence) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            str_file_hooks.close_all = close_all_files;
            run(test_program, fake_window);
        },
        testing::ExitedWithCode(PROGRAM_EXIT_CODE),
        "fake window: frame composed, ticks advancing, prompt shown, files closed");
}

// The close box: the display thread starts the exit sequence at once, stops the program thread
// at its next statement and exits with the status the program left.
void looping_program() {
    int32_t mark = program_enter();
    run_state.exit_code.store(7, std::memory_order_relaxed);
    for (uint32_t line = 1;; ++line) {
        frame_statement(mark, line);
        platform_sleep_ms(1);
    }
}

int closing_window(int, char**) {
    wait_for("a composed frame", [] { return compose_ring_latest() != nullptr; });
    window_event_hook(1, 0, 0);
    wait_for("the exit sequence", [] { return false; });
    return 1;
}

TEST(runtime_main, fake_window_close_box_stops_a_running_program) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT({ run(looping_program, closing_window); }, testing::ExitedWithCode(7), "");
}

} // namespace
