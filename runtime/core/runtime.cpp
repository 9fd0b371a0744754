// Start-up in its fixed order, and the threads it starts.
#include "runtime/core/runtime.h"

#include <thread>

#include "runtime/base/control.h"
#include "runtime/base/run_state.h"
#include "runtime/base/wake.h"
#include "runtime/core/clock.h"
#include "runtime/core/frame.h"
#include "runtime/core/startup.h"
#include "runtime/display/compose.h"
#include "runtime/display/display.h"
#include "runtime/display/font.h"
#include "runtime/input/keys.h"
#include "runtime/io/file.h"
#include "runtime/memory/conv.h"
#include "runtime/os/control.h"
#include "runtime/os/fs.h"
#include "runtime/platform/platform.h"
#include "runtime/screen/image.h"
#include "runtime/screen/print.h"
#include "runtime/screen/title.h"
#include "runtime/strings/str.h"
#include "runtime/strings/str_hooks.h"

namespace {

void program_thread_main(ProgramMain program) {
    platform_thread_name("program");
    program_run(program);
}

// The exit sequence: stop the program and timer threads, wait until both have parked, exit.
[[noreturn]] void exit_sequence() {
    // Stop request before event_pending (release), so that a program thread woken by the latter
    // finds the former.
    run_state.stop_requested.store(1, std::memory_order_relaxed);
    run_state.event_pending.store(1, std::memory_order_release);
    keys_wake_waiters();
    while (run_state.parked_threads.load(std::memory_order_acquire) != 3) platform_sleep_ms(16);
    // No file or connection can be open: nothing to close.
    platform_exit(int32_t(run_state.exit_code.load(std::memory_order_relaxed)));
}

} // namespace

int64_t clock_ms() {
    return platform_clock_ms();
}

void bios_ticks_update() {
    uint32_t ticks = clock_bios_ticks(clock_bases, clock_ms());
    conv_store8(BIOS_TIMER_TICKS, uint8_t(ticks));
    conv_store8(BIOS_TIMER_TICKS + 1, uint8_t(ticks >> 8));
    conv_store8(BIOS_TIMER_TICKS + 2, uint8_t(ticks >> 16));
}

void timer_thread_main() {
    platform_thread_name("timer");
    // Timer traps would need a thousand checks a second here; with no trap that can be armed
    // the thread only has to notice the stop request. It sleeps on the key waits' wake-up
    // signal, which the exit sequence sends (a key press wakes it too, and it only looks), and
    // looks on its own every WAIT_RECHECK_MS in case that wake-up is missed.
    for (;;) {
        uint32_t seen = key_event_sequence_now();
        if (run_state.stop_requested.load(std::memory_order_acquire) != 0) break;
        key_event_wait(seen, WAIT_RECHECK_MS);
    }
    run_state.parked_threads.fetch_or(2, std::memory_order_release);
}

// About 32 ms: the composition tick, and the one wake-up of the display thread in it.
constexpr uint32_t DISPLAY_TICK_MS = 32;

void display_thread() {
    platform_thread_name("display");
    for (;;) {
        if (run_state.exit_request_flags.load(std::memory_order_acquire) != 0 &&
            run_state.exit_polling.load(std::memory_order_relaxed) == 0)
            break;
        bios_ticks_update();
        int32_t shell = shell_running.load(std::memory_order_acquire);
        if (shell != 0) {
            if (shell == -1) {
                platform_sleep_ms(64);
                continue;
            }
            // A shell command just started: one last frame, then stay out of the way.
            shell_running.store(-1, std::memory_order_release);
            display_tick();
            continue;
        }
        // One sleep a composition tick, rather than two 16 ms passes that compose on one and
        // poll the lock keys on the other: the same pace with a third of the wake-ups (the lock
        // keys cost none where the platform keeps their state from events). A program that
        // starts waiting for input cuts the sleep short, so that what it has just printed is
        // composed at once.
        display_idle_wait(DISPLAY_TICK_MS);
        if (run_state.end_requested.load(std::memory_order_acquire) != 0) break;
        bios_ticks_update();
        display_tick();
        lock_keys_sync();
    }
    exit_sequence();
}

int runtime_main(int argc, char** argv, ProgramMain program, WindowMain window) {
    // Relative paths (the program's datafile.dat) resolve against the executable's directory,
    // whatever folder the program was started from.
    platform_enter_executable_directory();
    startup_count_environment();

    conv_memory_init();
    str_engine_reset();
    startup_strings(argc, argv);
    clock_startup();
    // Set before the keyboard's own connection to the desktop is opened, so that whichever
    // thread notices a lost desktop first ends the process the same way.
    platform_end_when_desktop_lost();
    keys_reset();
    keys_startup();
    display_reset();
    font_state_reset();
    screen_startup();
    // Open files are closed by END, which sits below the file family and reaches it through the
    // string engine's hook.
    str_file_hooks.close_all = file_close_all;
    os_console_path_hook = [] {
        return title_state.console_enabled != 0 && title_state.console_shown != 0;
    };
    dir_list_set_printer(
        DirListPrinter{print_string, print_fit, print_newline,
                       [] { return int32_t(screen_state.write_page.image->cursor_x.load()); }});

    std::thread(program_thread_main, program).detach();
    std::thread(timer_thread_main).detach();
    display_thread_running.store(1, std::memory_order_release);
    std::thread(display_thread).detach();

    return window(argc, argv);
}
