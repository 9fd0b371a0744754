// A small program in the translated style that exercises the text window without the recovery
// sequence: printing, scrolling, blinking text, the cursor and key reading. It ends on Esc with
// the closing prompt.
#include <cstring>
#include <string>

#include "runtime/unveilo.h"

namespace {

BasicString* literal(const char* text) {
    return str_new_cstring(text);
}

void set_colour(uint32_t foreground) {
    screen_state.write_page.image->foreground = foreground;
}

void demo_main() {
    int32_t mark = program_enter();
    BasicString* key = str_new(0, false);
    std::string number;

    set_window_title(literal("Unveilo demo"));
    frame_statement(mark, 1);
    frame_print_item(literal("Unveilo text window demo"));
    frame_print_end(mark, 2);

    // Enough lines to scroll the view; the first ones leave the screen.
    for (int i = 1; i <= 30; ++i) {
        number = std::to_string(i);
        frame_print_item(literal("Scrolling line ")) && frame_print_item(literal(number.c_str()));
        frame_print_end(mark, 3);
    }

    set_colour(16 + 14); // blinking yellow
    frame_print_item(literal("Blinking text"));
    frame_print_end(mark, 4);
    set_colour(7);

    cursor_set(0, 0, 1, 14, 15, CURSOR_VISIBLE_GIVEN | CURSOR_START_GIVEN | CURSOR_END_GIVEN);
    frame_statement(mark, 5);
    frame_print_item(literal("Type keys, Esc ends: "));
    frame_print_end(mark, 6, false);

    for (;;) {
        frame_loop_head(7);
        str_set(key, inkey_read());
        frame_statement(mark, 8);
        if (frame_condition(mark, 9, str_equal(key, literal("")))) {
            sleep_until_key();
            frame_statement(mark, 10);
            continue;
        }
        if (frame_condition(mark, 11, str_equal(key, literal("\x1b")))) break;
        if (frame_condition(mark, 12, str_equal(key, literal("\r")))) {
            frame_print_end(mark, 13);
        } else if (frame_condition(mark, 14, str_len(key) == 1 ? -1 : 0)) {
            frame_print_item(key);
            frame_print_end(mark, 15, false);
        } else {
            frame_print_item(literal("[ext]"));
            frame_print_end(mark, 16, false);
        }
        latency_echo_done();
    }
    frame_end(17);
}

} // namespace

int main(int argc, char** argv) {
    return runtime_main(argc, argv, demo_main, window_main);
}
