#pragma once
// Process-wide flags shared by the window, program, timer and display threads. There are no
// locks: each word has the writers and readers named beside it, and the orders are the weakest
// that keep the hand-offs below correct.
#include <atomic>
#include <cstdint>

struct RunState {
    // Set to 1 by error_raise, key intake, the timer thread and the display thread; cleared only
    // by event_poll on the program thread. Stored with release after stop_requested so that a
    // program thread that loads it with acquire also sees the stop request.
    std::atomic<uint32_t> event_pending{0};
    // Written by error_raise / error_report on the program thread; read by the statement frame.
    std::atomic<uint32_t> error_code{0};
    // Line of the statement after which the pending error was taken up (program thread only).
    std::atomic<uint32_t> error_line{0};
    // Bit 0: paused by the pause key. Written by key intake (window thread), read by event_poll.
    std::atomic<uint8_t> pause_state{0};
    // Written once by the display thread when the exit sequence starts; read by the program and
    // timer threads.
    std::atomic<uint8_t> stop_requested{0};
    // Written by program_end, the error dialog's refusal and the break key; read by the display
    // thread.
    std::atomic<uint8_t> end_requested{0};
    // Bit 0: close box (window thread); bit 1: break key while exit_polling is set.
    std::atomic<uint32_t> exit_request_flags{0};
    // Set only by a program that polls close requests itself; cleared by program_end.
    std::atomic<uint32_t> exit_polling{0};
    // Bit 0: the program thread has parked; bit 1: the timer thread has finished. Each bit has
    // one writer, so fetch_or keeps the other thread's bit.
    std::atomic<uint32_t> parked_threads{0};
    // Exit status handed to exit() by the exit sequence (low 32 bits).
    std::atomic<int64_t> exit_code{0};
};

extern RunState run_state;

// The longest any wait of the run-time sleeps before it looks at its run-state words again on its
// own. The exit sequence wakes the waits at once; this bound is what still ends them when that
// wake-up is missed, at the cost of four looks a second at an idle prompt.
constexpr uint32_t WAIT_RECHECK_MS = 250;

// Puts every flag back to zero; used by start-up and by test fixtures.
void run_state_reset();
