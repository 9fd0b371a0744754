// The input statement's key loop and screen work: echo, take-back through the snapshot and
// scratch images, Tab, Backspace, bell and the end steps. The field check is line_check.cpp.
// Program thread only.
#include <atomic>
#include <string>

#include "runtime/base/control.h"
#include "runtime/base/error.h"
#include "runtime/base/event.h"
#include "runtime/base/run_state.h"
#include "runtime/base/wake.h"
#include "runtime/input/detail.h"
#include "runtime/input/keys.h"
#include "runtime/input/line_input.h"
#include "runtime/input/wait.h"
#include "runtime/platform/platform.h"
#include "runtime/screen/image.h"
#include "runtime/screen/print.h"
#include "runtime/strings/str.h"

namespace {

// The polling step of the original statement, kept for UNVEILO_LITERAL_SPIN=1.
constexpr uint32_t LITERAL_POLL_MS = 10;

constexpr int32_t TAB_STOP = 8;
constexpr uint8_t KEY_BELL = 7;
constexpr uint8_t KEY_BACKSPACE = 8;
constexpr uint8_t KEY_TAB = 9;
constexpr uint8_t KEY_ENTER = 13;

// Graphics images have no hardware cursor; the statement inverts the cursor cell, 8 pixels wide.
constexpr int32_t GRAPHICS_CELL_WIDTH = 8;

// What one call of the statement works with. Handles are the screen family's (-slot).
struct LineInput {
    int32_t mark = 0; // temporaries created since the statement began are freed while it waits
    int32_t count = 0;
    std::string line;     // the text being checked
    std::string accepted; // the last line that passed
    int32_t destination = 0;
    int32_t saved_source = 0;
    int32_t snapshot = 0;
    int32_t scratch = 0;
    int16_t saved_x = 0;
    int16_t saved_y = 0;
    uint8_t saved_wrap = 0;
    uint8_t saved_cursor_visible = 0;
    int32_t saved_display_auto = 0;
    int32_t tab_spaces = 0; // spaces of a Tab still to insert
    bool literal = false;
};

bool stop_requested() {
    return run_state.stop_requested.load(std::memory_order_relaxed) != 0;
}

ScreenImage& destination_image() {
    return *screen_state.write_page.image;
}

// Prints bytes through a permanent work string, so the statement's temporaries stay its own.
void print_bytes(const std::string& bytes, int32_t end_line) {
    BasicString* text = str_new(int32_t(bytes.size()), false);
    for (size_t i = 0; i < bytes.size(); ++i) text->chars[i] = uint8_t(bytes[i]);
    print_string(text, end_line);
    str_free(text);
}

// Shows or hides the statement's own cursor on a graphics destination by inverting the pixels of
// the cursor cell; doing it twice restores them. Text images use the ordinary text cursor.
void toggle_graphics_cursor() {
    ScreenImage& image = destination_image();
    if (image.is_text || image.pixels.load() == nullptr) return;
    int32_t cell_height = image_font_height(image.font);
    int32_t left = (image.cursor_x - 1) * GRAPHICS_CELL_WIDTH;
    int32_t top = (image.cursor_y - 1) * cell_height;
    int32_t bytes_per_pixel = image.bytes_per_pixel;
    for (int32_t y = top; y < top + cell_height && y < int32_t(image.height); ++y) {
        for (int32_t x = left; x < left + GRAPHICS_CELL_WIDTH && x < int32_t(image.width); ++x) {
            if (x < 0 || y < 0) continue;
            uint32_t offset = (uint32_t(y) * image.width + uint32_t(x)) * uint32_t(bytes_per_pixel);
            // 32-bit pixels keep their alpha byte (the highest, 0xAARRGGBB in host order);
            // palette pixels flip the bits the image's colours use.
            int32_t colour_bytes = bytes_per_pixel == 4 ? 3 : bytes_per_pixel;
            uint8_t mask = bytes_per_pixel == 1 && image.colour_mask != 0
                               ? uint8_t(image.colour_mask)
                               : uint8_t(0xFF);
            for (int32_t b = 0; b < colour_bytes; ++b) {
                uint8_t value = image_cell_load(image, offset + uint32_t(b));
                image_cell_store(image, offset + uint32_t(b), uint8_t(value ^ mask));
            }
        }
    }
}

// Waits for the next key of one character and returns it, or -1 on a stop request. Longer keys
// (arrows, Home, function keys and the other extended keys) are passed over.
int32_t next_key(LineInput& in) {
    if (!in.literal) display_wake(); // the echo so far is what the user looks at while idle
    toggle_graphics_cursor();
    for (;;) {
        // Read before the buffer: a press after this moves the sequence and ends the sleep.
        uint32_t seen = key_event_sequence_now();
        BasicString* key = inkey_read();
        int32_t length = key->length;
        uint8_t character = length > 0 ? key->chars[0] : 0;
        str_cleanup(in.mark, 0);
        if (stop_requested()) return -1;
        if (length == 1) {
            toggle_graphics_cursor();
            return character;
        }
        if (length != 0) continue; // an extended key: look for the next one at once
        if (in.literal) {
            platform_sleep_ms(LITERAL_POLL_MS);
        } else {
            // Only a key or a stop request ends the wait. Both normally move the sequence (every
            // press signals it, and the exit sequence calls keys_wake_waiters after setting
            // stop_requested), so the prompt sleeps until one comes; the bounded sleep makes it
            // look again on its own should a stop request arrive without that wake-up.
            key_event_wait(seen, WAIT_RECHECK_MS);
        }
    }
}

// Takes the line back by one character. The screen is rebuilt from the snapshot taken before
// anything was typed plus the remaining line, printed on the scratch image and copied over, so
// it is right even when the removed character had wrapped or scrolled the screen.
void take_back(LineInput& in) {
    if (in.line.empty()) return;
    in.line.pop_back();
    page_copy(in.snapshot, in.scratch);
    set_write_page(in.scratch);
    ScreenImage& scratch = destination_image();
    scratch.cursor_x = in.saved_x;
    scratch.cursor_y = in.saved_y;
    scratch.pending_wrap = in.saved_wrap;
    print_bytes(in.line, 0);
    set_write_page(in.destination);
    page_copy(in.scratch, in.destination);
    ScreenImage& destination = destination_image();
    destination.cursor_x = scratch.cursor_x.load();
    destination.cursor_y = scratch.cursor_y.load();
    // The wrap flag goes with the cursor: a line that ends in the last column must make the
    // next echo start a new row rather than overwrite that column.
    destination.pending_wrap = scratch.pending_wrap.load();
}

// Checks the line after a change; a refused line is taken back until it passes (the empty line
// always does). The line that passed becomes the accepted text.
void check_line(LineInput& in) {
    while (!input_check_line(in.line, in.count) && !in.line.empty()) take_back(in);
    in.accepted = in.line;
}

void type_character(LineInput& in, uint8_t character) {
    if (int32_t(in.accepted.size()) >= INPUT_LINE_MAX) return;
    print_bytes(std::string(1, char(character)), 0);
    in.line = in.accepted + char(character);
    check_line(in);
}

// Start steps 2 to 9. False after a critical error (which does not return in the program).
bool start(LineInput& in, int32_t count) {
    in.count = count;
    in.mark = str_temp_mark();
    in.literal = wait_literal_spin();
    in.saved_display_auto = display_auto.load(std::memory_order_relaxed);
    // Release, as display_auto_on does: the composer state passes to the display thread.
    display_auto.store(1, std::memory_order_release);
    in.saved_source = get_read_page();
    in.destination = get_write_page();
    set_read_page(in.destination);
    in.snapshot = image_copy(0, 0);
    if (in.snapshot == -1 || in.snapshot == 0) {
        error_raise(ERROR_CRITICAL_SNAPSHOT_COPY);
        return false;
    }
    in.scratch = image_copy(0, 0);
    if (in.scratch == -1 || in.scratch == 0) {
        error_raise(ERROR_CRITICAL_SCRATCH_COPY);
        return false;
    }
    ScreenImage& destination = destination_image();
    in.saved_x = destination.cursor_x;
    in.saved_y = destination.cursor_y;
    in.saved_wrap = destination.pending_wrap;
    in.saved_cursor_visible = destination.cursor_visible;
    destination.cursor_visible = 1;
    input_clear_variables(count);
    return true;
}

void finish(LineInput& in, int32_t end_line) {
    if (end_line) print_bytes(std::string(), 1);
    destination_image().cursor_visible = in.saved_cursor_visible;
    image_free(in.snapshot, 1);
    image_free(in.scratch, 1);
    if (in.saved_display_auto == 0) {
        if (display_thread_running.load(std::memory_order_acquire) != 0) {
            // One last frame with the finished line, then the program displays on its own again.
            display_auto.store(-1, std::memory_order_release);
            while (display_auto.load(std::memory_order_acquire) != 0) {
                program_park_on_stop(); // a display thread in the exit sequence never answers
                platform_sleep_ms(1);
            }
        } else {
            display_auto.store(0, std::memory_order_relaxed); // nobody composes to answer
        }
    }
    set_read_page(in.saved_source);
}

} // namespace

void input_values(int32_t count, int32_t end_line) {
    if (error_pending()) return;
    if (!input_variables_valid(count)) {
        error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
        return;
    }
    LineInput in;
    if (!start(in, count)) return;
    for (;;) {
        uint8_t character = ' ';
        if (in.tab_spaces > 0) {
            --in.tab_spaces;
        } else {
            int32_t key = next_key(in);
            if (key < 0) return; // the program is ending: no end steps
            character = uint8_t(key);
        }
        switch (character) {
        case KEY_BELL: print_bytes(std::string(1, char(KEY_BELL)), 0); break;
        case KEY_BACKSPACE:
            if (!in.line.empty()) {
                take_back(in);
                check_line(in);
            }
            break;
        case KEY_TAB: in.tab_spaces = TAB_STOP - int32_t(in.accepted.size()) % TAB_STOP; break;
        case 10:
        case 11:
        case 12:
        case 28:
        case 29:
        case 30:
        case 31: break;
        case KEY_ENTER: finish(in, end_line); return;
        default: type_character(in, character); break;
        }
    }
}
