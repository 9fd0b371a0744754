#pragma once
// The window title and the window and console visibility statements.
//
// The program thread never calls the window library. It stores the title and raises a
// generation counter; the window thread, which owns every freeglut call, creates the window with
// title_for_window_creation() and then, from its redisplay timer, applies any newer title that
// title_take_pending() hands it. Whether the title statement runs before or after the window is
// created, the last title set is the one the window shows. Show and hide requests travel the
// same way through screen_visibility_take_pending().
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "runtime/strings/str.h"

struct TitleState {
    // Program thread only.
    BasicString* window_title = nullptr;     // the title and one zero byte
    BasicString* title_terminator = nullptr; // one zero byte, appended to every title
    BasicString* console_title_text = nullptr;
    // A console image and window belong to the program only in console builds; never here, so
    // the console statements change state but show nothing.
    int32_t console_enabled = 0;
    int32_t console_shown = 1;
    int32_t console_owned = 0;
    int32_t console_image = -1;

    // Hand-over of the title text to the window thread. The program thread writes text and
    // generation under the mutex; the window thread polls generation (relaxed, as a hint) and
    // reads both under the mutex.
    std::mutex title_mutex;
    std::string title_text; // guarded by title_mutex; up to the first zero byte of window_title
    std::atomic<uint32_t> title_generation{0}; // 0: no title set yet
    uint32_t title_taken = 0;                  // window thread only: the generation it applied

    // Written by screen_show / screen_hide (program thread): (request count << 1) | hidden.
    // Read by the window thread, which alone keeps visibility_taken.
    std::atomic<uint32_t> visibility_request{0};
    uint32_t visibility_taken = 0;
};

extern TitleState title_state;

// Back to the start-up state (the strings are forgotten with the string engine).
void title_reset();

// The title statement: stores `s` plus a zero byte in window_title and hands it to the window.
void set_window_title(BasicString* s);

// --- For the window layer (window thread) ------------------------------------------------------

// The title to create the window with: the stored one, or "Untitled". Counts as taken, so that
// title_take_pending() reports only titles set after this call.
std::string title_for_window_creation();
// True once for every title set since the last take; `title` receives the newest one.
bool title_take_pending(std::string& title);
// True once for every show or hide request since the last take; `hidden` receives the newest.
bool screen_visibility_take_pending(bool& hidden);

// --- Statements ---------------------------------------------------------------------------------

int32_t console_handle();
void console_show(int32_t on);
void console_set_title(BasicString* s);
void screen_show();
void screen_hide();
