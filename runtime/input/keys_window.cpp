// The entries the window layer calls on the window thread: freeglut's keyboard and mouse
// callbacks and the run-time hook for the events the stock library does not deliver. Also the
// mouse-message queue they feed, which has a lock of its own: nothing in it touches the keys.
#include <mutex>

#include "runtime/base/run_state.h"
#include "runtime/input/detail.h"
#include "runtime/input/keys.h"

namespace {

constexpr uint32_t MOUSE_QUEUE_MASK = MOUSE_QUEUE_ENTRIES - 1;
static_assert((MOUSE_QUEUE_ENTRIES & MOUSE_QUEUE_MASK) == 0);

// freeglut's button n is bit n; the wheel arrives as buttons 3 (up) and 4 (down).
constexpr int MOUSE_BUTTONS = 32;
constexpr int MOUSE_WHEEL_UP = 3;
constexpr int MOUSE_WHEEL_DOWN = 4;
constexpr int GLUT_BUTTON_DOWN = 0;

// Written by the window thread, read by the program thread's mouse statements; guarded by
// mouse_lock.
struct MouseQueue {
    std::array<MouseMessage, MOUSE_QUEUE_ENTRIES> entries{};
    uint32_t write = 0;
    uint32_t read = 0;
    // The newest entry, kept apart so that it outlives its being read.
    MouseMessage newest{};
};

std::mutex mouse_lock;
MouseQueue mouse;

// The caller holds mouse_lock. A full queue loses its oldest entry.
void mouse_put(int x, int y, uint32_t buttons, int move_x, int move_y) {
    MouseMessage message{int16_t(x), int16_t(y), buttons, int16_t(move_x), int16_t(move_y)};
    uint32_t next = (mouse.write + 1) & MOUSE_QUEUE_MASK;
    if (next == mouse.read) mouse.read = (mouse.read + 1) & MOUSE_QUEUE_MASK;
    mouse.entries[mouse.write] = message;
    mouse.write = next;
    mouse.newest = message;
}

} // namespace

void on_key_char(unsigned char key, int modifiers, bool down) {
    int32_t code = key;
    // With Ctrl the system delivers control characters; the key's own character goes through
    // the table's Ctrl column instead. Ctrl+Enter arrives as line feed.
    if (modifiers & KEY_MODIFIER_CTRL) {
        if (code == 10) {
            code = 13;
        } else if (code >= 1 && code <= 26) {
            code += (modifiers & KEY_MODIFIER_SHIFT) ? 64 : 96;
        }
    }
    if (code == 127) code = KEY_DELETE; // the Delete key arrives as DEL
    if (down) {
        key_down(code);
    } else {
        key_up(code);
    }
}

void on_key_special(int glut_special_key, bool down) {
    // freeglut's GLUT_KEY_* numbers.
    KeyCode code = 0;
    if (glut_special_key >= 1 && glut_special_key <= 10) {
        code = KEY_F1 + ((glut_special_key - 1) << 8);
    } else {
        switch (glut_special_key) {
        case 11: code = KEY_F11; break;
        case 12: code = KEY_F12; break;
        case 100: code = KEY_LEFT; break;
        case 101: code = KEY_UP; break;
        case 102: code = KEY_RIGHT; break;
        case 103: code = KEY_DOWN; break;
        case 104: code = KEY_PAGE_UP; break;
        case 105: code = KEY_PAGE_DOWN; break;
        case 106: code = KEY_HOME; break;
        case 107: code = KEY_END; break;
        case 108: code = KEY_INSERT; break;
        case 112: code = KEY_LEFT_SHIFT; break;
        case 113: code = KEY_RIGHT_SHIFT; break;
        case 114: code = KEY_LEFT_CTRL; break;
        case 115: code = KEY_RIGHT_CTRL; break;
        case 116: code = KEY_LEFT_ALT; break;
        case 117: code = KEY_RIGHT_ALT; break;
        default: return;
        }
    }
    if (down) {
        key_down(code);
    } else {
        key_up(code);
    }
}

void on_mouse_button(int button, int state, int x, int y) {
    if (button < 0 || button >= MOUSE_BUTTONS) return;
    uint32_t bit = 1u << button;
    std::lock_guard<std::mutex> guard(mouse_lock);
    uint32_t buttons = mouse.newest.buttons;
    mouse_put(x, y, state == GLUT_BUTTON_DOWN ? buttons | bit : buttons & ~bit, 0, 0);
}

void on_mouse_motion(int x, int y) {
    std::lock_guard<std::mutex> guard(mouse_lock);
    mouse_put(x, y, mouse.newest.buttons, 0, 0);
}

void on_mouse_wheel(int /*wheel*/, int direction, int x, int y) {
    if (direction == 0) return;
    uint32_t bit = 1u << (direction > 0 ? MOUSE_WHEEL_UP : MOUSE_WHEEL_DOWN);
    std::lock_guard<std::mutex> guard(mouse_lock);
    uint32_t buttons = mouse.newest.buttons;
    mouse_put(x, y, buttons | bit, 0, 0);
    mouse_put(x, y, buttons & ~bit, 0, 0);
}

int32_t window_event_hook(int32_t kind, int32_t a, int32_t b) {
    switch (kind) {
    case 1: run_state.exit_request_flags.fetch_or(1, std::memory_order_relaxed); return 0;
    case 2:
        if (a != KEY_PAUSE && a != KEY_BREAK) return -1;
        if (b > 0) {
            key_down(a);
        } else {
            key_up(a);
        }
        return 0;
    case 3: {
        if (a == 0 && b == 0) return 0;
        std::lock_guard<std::mutex> guard(mouse_lock);
        MouseMessage newest = mouse.newest;
        mouse_put(newest.x, newest.y, newest.buttons, a, b);
        mouse_put(newest.x, newest.y, newest.buttons, 0, 0);
        return 0;
    }
    default: return -1;
    }
}

bool mouse_message_next(MouseMessage& message) {
    std::lock_guard<std::mutex> guard(mouse_lock);
    if (mouse.read == mouse.write) return false;
    message = mouse.entries[mouse.read];
    mouse.read = (mouse.read + 1) & MOUSE_QUEUE_MASK;
    return true;
}

void mouse_reset() {
    std::lock_guard<std::mutex> guard(mouse_lock);
    mouse.write = mouse.read = 0;
    mouse.newest = MouseMessage{};
}
