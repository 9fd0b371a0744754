#include "runtime/base/event.h"

#include "runtime/base/error.h"
#include "runtime/platform/platform.h"

namespace {

constexpr uint32_t PAUSE_POLL_MS = 10;
constexpr uint32_t PARK_SLEEP_MS = 16;

} // namespace

void event_poll(uint32_t line) {
    // An exchange rather than a plain store: if it takes the 1 that another thread stored with
    // release after setting stop_requested, the acquire makes that stop request visible below;
    // if that store comes later, the flag stays set and the next statement polls again.
    run_state.event_pending.exchange(0, std::memory_order_acquire);

    for (;;) {
        if (run_state.stop_requested.load(std::memory_order_relaxed) != 0) program_park();
        if (run_state.pause_state.load(std::memory_order_relaxed) == 0) break;
        platform_sleep_ms(PAUSE_POLL_MS);
    }

    if (error_pending()) {
        run_state.error_line.store(line, std::memory_order_relaxed);
        error_report();
        return;
    }
    event_trap_dispatch();
}

// Key and timer traps are armed only by the dialect's ON KEY / ON TIMER statements, which this
// run-time does not offer; with no trap table there is nothing to walk.
void event_trap_dispatch() {}

void program_park_on_stop() {
    if (run_state.stop_requested.load(std::memory_order_relaxed) != 0) program_park();
}

void program_park() {
    // Release: the display thread, seeing this bit with acquire, may exit the process with
    // everything this thread stored before (the end request, the exit code) in view.
    run_state.parked_threads.fetch_or(1, std::memory_order_release);
    // A parked thread has nothing left to do, with or without a stop request: the display
    // thread ends the process. It touches no state from here on.
    for (;;) platform_sleep_ms(PARK_SLEEP_MS);
}
