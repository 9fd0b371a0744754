#include "runtime/display/window_input.h"

#include "runtime/input/keys.h"

namespace {

void key_transition(KeyCode code, bool down) {
    if (down) {
        key_down(code);
    } else {
        key_up(code);
    }
}

} // namespace

void window_key_char(unsigned char key, int modifiers, bool down) {
    int32_t code = key;
    // With Ctrl the system delivers control characters; the key's own character goes through
    // the table's Ctrl column instead. Ctrl+Enter arrives as line feed.
    if (modifiers & WINDOW_MODIFIER_CTRL) {
        if (code == 10) {
            code = 13;
        } else if (code >= 1 && code <= 26) {
            code += (modifiers & WINDOW_MODIFIER_SHIFT) ? 64 : 96;
        }
    }
    if (code == 127) code = KEY_DELETE; // the Delete key arrives as DEL
    key_transition(code, down);
}

void window_key_special(int special_key, bool down) {
    KeyCode code = 0;
    if (special_key >= WINDOW_KEY_F1 && special_key < WINDOW_KEY_F1 + 10) {
        code = KEY_F1 + ((special_key - WINDOW_KEY_F1) << 8);
    } else {
        switch (special_key) {
        case WINDOW_KEY_F11: code = KEY_F11; break;
        case WINDOW_KEY_F12: code = KEY_F12; break;
        case WINDOW_KEY_LEFT: code = KEY_LEFT; break;
        case WINDOW_KEY_UP: code = KEY_UP; break;
        case WINDOW_KEY_RIGHT: code = KEY_RIGHT; break;
        case WINDOW_KEY_DOWN: code = KEY_DOWN; break;
        case WINDOW_KEY_PAGE_UP: code = KEY_PAGE_UP; break;
        case WINDOW_KEY_PAGE_DOWN: code = KEY_PAGE_DOWN; break;
        case WINDOW_KEY_HOME: code = KEY_HOME; break;
        case WINDOW_KEY_END: code = KEY_END; break;
        case WINDOW_KEY_INSERT: code = KEY_INSERT; break;
        case WINDOW_KEY_SHIFT_L: code = KEY_LEFT_SHIFT; break;
        case WINDOW_KEY_SHIFT_R: code = KEY_RIGHT_SHIFT; break;
        case WINDOW_KEY_CTRL_L: code = KEY_LEFT_CTRL; break;
        case WINDOW_KEY_CTRL_R: code = KEY_RIGHT_CTRL; break;
        case WINDOW_KEY_ALT_L: code = KEY_LEFT_ALT; break;
        case WINDOW_KEY_ALT_R: code = KEY_RIGHT_ALT; break;
        default: return;
        }
    }
    key_transition(code, down);
}

// The window library numbers its buttons as the mouse queue does (left, middle, right, then the
// wheel as 3 and 4); any other number is passed on for the queue to refuse.
void window_mouse_button(int button, int state, int x, int y) {
    static_assert(WINDOW_BUTTON_LEFT == MOUSE_BUTTON_LEFT &&
                  WINDOW_BUTTON_MIDDLE == MOUSE_BUTTON_MIDDLE &&
                  WINDOW_BUTTON_RIGHT == MOUSE_BUTTON_RIGHT);
    mouse_button(button, state == WINDOW_BUTTON_DOWN, x, y);
}

void window_mouse_motion(int x, int y) {
    mouse_motion(x, y);
}

void window_mouse_wheel(int /*wheel*/, int direction, int x, int y) {
    if (direction == 0) return;
    mouse_wheel(direction > 0, x, y);
}
