#pragma once
// Process start-up and the four threads: the window thread (the initial one, inside the window
// library's event loop), the program thread, the timer thread and the display thread.
#include <cstdint>

// The translated main program, run on the program thread. It never returns: it ends in
// program_end (or parks after an error it was told not to continue).
using ProgramMain = void (*)();

// The window's entry point: creates the window and runs its event loop on the calling thread for
// the life of the process. The freeglut window passes window_main (runtime/display/window.h);
// tests pass a fake.
using WindowMain = int (*)(int argc, char** argv);

// Prepares the run-time, starts the program, timer and display threads and turns the calling
// thread into the window thread by calling `window`. Returns what `window` returns, if it ever
// does.
int runtime_main(int argc, char** argv, ProgramMain program, WindowMain window);

// The display thread: emulated timer tick, frame composition about every 32 ms, lock-key
// synchronisation, and the exit sequence that ends the process.
void display_thread();

// The timer thread. No timer trap can be armed in this run-time, so it only waits for the stop
// request and then reports that it has finished.
void timer_thread_main();

// Milliseconds since start-up on a monotonic clock.
int64_t clock_ms();

// Stores the emulated BIOS timer tick count for the current time (display thread).
void bios_ticks_update();
