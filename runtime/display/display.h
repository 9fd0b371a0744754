#pragma once
// Control words shared between the composer (display thread), the screen operations and the
// statements that steer the display (program thread) and the shell runner. Each is a single
// word with the writers and readers named beside it.
#include <atomic>
#include <cstdint>

// 1: the display thread composes on its own; 0: the program displays explicitly; -1: compose
// once more, then 0. Written by display_now / display_auto_on / the composer, read by both.
extern std::atomic<int32_t> display_auto;
// Set to 1 at the end of every composition run; cleared by display_wait_frame.
extern std::atomic<int32_t> compose_done;
// Incremented by the display thread once per composition tick; bit 3 is the blink and cursor
// phase.
extern std::atomic<int32_t> frame_counter;
// 0 idle, 1 requested (program thread), 2 granted (display thread). Keeps the composer out of a
// page while its structure changes.
extern std::atomic<int32_t> screen_lock;
// While 1 the composer produces nothing. Written by the window show/hide statements.
extern std::atomic<int32_t> window_hidden;
// Set by start-up just before the display thread starts; the screen lock is used only then.
extern std::atomic<int32_t> display_thread_running;
// 1 while a shell command is being waited for (program thread); the display thread answers -1.
extern std::atomic<int32_t> shell_running;

// Takes / gives back the screen lock around operations that replace pages or change their size.
// Only when automatic display is on and the display thread runs; otherwise they do nothing.
void screen_lock_acquire();
void screen_lock_release();

// The program thread is about to wait for input: whatever it printed should be on the screen
// now rather than at the display thread's next tick.
void display_wake();
// Display thread: sleeps up to delay_ms; true when display_wake ended the sleep early.
bool display_idle_wait(uint32_t delay_ms);
