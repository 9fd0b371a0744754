#pragma once
// Control words shared between the program side (screen statements, key waits, shell commands)
// and the display side (composer on the display thread, presenter on the window thread). They
// live below both so that neither has to include the other. Each is a single word with the
// writers and readers named beside it.
#include <atomic>
#include <cstdint>

// 1: the display thread composes on its own; 0: the program displays explicitly; -1: compose
// once more, then 0. Written by display_now / display_auto_on / the key wait / the composer,
// read by both sides.
extern std::atomic<int32_t> display_auto;
// 0 idle, 1 requested (program thread), 2 granted (display thread). Keeps the composer out of a
// page while its structure changes.
extern std::atomic<int32_t> screen_lock;
// While 1 the composer produces nothing. Written by the window show/hide statements.
extern std::atomic<int32_t> window_hidden;
// Set by start-up just before the display thread starts; the screen lock is used only then.
extern std::atomic<int32_t> display_thread_running;
// 1 while a shell command is being waited for (program thread); the display thread answers -1.
extern std::atomic<int32_t> shell_running;
// 1 while the composer's copy of the page cells, its palette copy and the newest frame show one
// state of the page. Cleared by screen_lock_acquire (program thread) while it holds the lock and
// by display_reset; set by the composer at the end of every run that composes.
extern std::atomic<int32_t> compose_previous_valid;
// Full screen: -1 none, 0 leave full screen, 1 stretched, 2 aspect kept. fullscreen_request is
// stored by the program thread and taken by the presenter (window thread), which answers in
// fullscreen_mode; both with release/acquire so that the mode is seen after the request.
extern std::atomic<int32_t> fullscreen_request;
extern std::atomic<int32_t> fullscreen_mode;

// With no display thread nobody else would compose, so the program thread does it itself.
inline bool display_thread_composes() {
    return display_thread_running.load(std::memory_order_acquire) != 0 &&
           display_auto.load(std::memory_order_acquire) != 0;
}

// Takes / gives back the screen lock around operations that replace pages or change their size.
// Only when automatic display is on and the display thread runs; otherwise they do nothing.
void screen_lock_acquire();
void screen_lock_release();

// Put the control words back to their start values (the composer's words, and the full-screen
// handshake); nothing may be composing or presenting. Used by display_reset / presenter_reset.
void control_reset();
void control_fullscreen_reset();
