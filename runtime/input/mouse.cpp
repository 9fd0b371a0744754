// The mouse-message queue that the window thread feeds, with a lock of its own (nothing in it
// touches the keys), and the run-time hook for the events the window library does not deliver.
#include <mutex>

#include "runtime/base/run_state.h"
#include "runtime/input/detail.h"
#include "runtime/input/keys.h"

namespace {

constexpr uint32_t MOUSE_QUEUE_MASK = MOUSE_QUEUE_ENTRIES - 1;
static_assert((MOUSE_QUEUE_ENTRIES & MOUSE_QUEUE_MASK) == 0);

// Button n is bit n of a message.
constexpr int MOUSE_BUTTONS = 32;

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

void mouse_button(int button, bool down, int x, int y) {
    if (button < 0 || button >= MOUSE_BUTTONS) return;
    uint32_t bit = 1u << button;
    std::lock_guard<std::mutex> guard(mouse_lock);
    uint32_t buttons = mouse.newest.buttons;
    mouse_put(x, y, down ? buttons | bit : buttons & ~bit, 0, 0);
}

void mouse_motion(int x, int y) {
    std::lock_guard<std::mutex> guard(mouse_lock);
    mouse_put(x, y, mouse.newest.buttons, 0, 0);
}

void mouse_wheel(bool up, int x, int y) {
    uint32_t bit = 1u << (up ? MOUSE_BUTTON_WHEEL_UP : MOUSE_BUTTON_WHEEL_DOWN);
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
