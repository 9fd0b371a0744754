#pragma once
// Text output on the write page: printing with the dialect's control characters, wrapping at the
// right edge, scrolling inside the text view, print zones and clearing. Program thread only; the
// cells and cursor it writes are read by the composer through the accessors of image.h.
#include <cstdint>

#include "runtime/strings/str.h"
#include "runtime/strings/str_hooks.h"

struct PrintState {
    // Receives the text printed while the write page is the console image.
    BasicString* console_buffer = nullptr;
    // Either switch makes control characters print as glyphs: the control-character statement,
    // and the drawing of the function-key label line.
    uint8_t controls_as_glyphs = 0;
    uint8_t drawing_key_labels = 0;
};

extern PrintState print_state;

// Back to the start-up state (the console buffer is forgotten with the string engine).
void print_reset();

// Prints the bytes of `s` at the cursor; ends the line afterwards when `end_line` is non-zero.
// Does not free `s`.
void print_string(BasicString* s, int32_t end_line);
// Cursor to column 1 of the next row, scrolling the view when the cursor leaves it.
void print_newline();
// Moves to a new line first when `s` would not fit on the rest of the current line.
void print_fit(BasicString* s);
// Advances to the next 14-column print zone.
void print_zone();

// The screen as a sink of printing statements: print_string, print_fit and print_zone on the
// write page.
extern const StrSink screen_print_sink;

// screen_clear flags
constexpr int32_t CLEAR_TYPE_GIVEN = 1 << 0;
constexpr int32_t CLEAR_FILL_GIVEN = 1 << 1;
// type 0: the whole page; 1: only home the cursor (text pages); 2: the text view; not given: the
// text view and the screen's last row.
void screen_clear(int32_t type, int32_t fill, int32_t flags);
