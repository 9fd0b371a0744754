#include "runtime/base/run_state.h"

RunState run_state;

// Only start-up and test fixtures call this, while no other thread of the run-time is running,
// so relaxed stores are enough.
void run_state_reset() {
    run_state.event_pending.store(0, std::memory_order_relaxed);
    run_state.error_code.store(0, std::memory_order_relaxed);
    run_state.error_line.store(0, std::memory_order_relaxed);
    run_state.pause_state.store(0, std::memory_order_relaxed);
    run_state.stop_requested.store(0, std::memory_order_relaxed);
    run_state.end_requested.store(0, std::memory_order_relaxed);
    run_state.exit_request_flags.store(0, std::memory_order_relaxed);
    run_state.exit_polling.store(0, std::memory_order_relaxed);
    run_state.parked_threads.store(0, std::memory_order_relaxed);
    run_state.exit_code.store(0, std::memory_order_relaxed);
}
