// The key layer's state, start-up and reset, and the lock-key poll that keeps Scroll, Caps and
// Num Lock in line with the operating system's toggles.
#include "runtime/input/keys.h"

#include "runtime/input/key_layer.h"
#include "runtime/platform/platform.h"

std::atomic<int32_t> key_pressed_flag{0};

namespace key_layer_internal {

std::mutex key_lock;
KeyLayer keys;
std::atomic<int32_t> alt_enter_request{0};

} // namespace key_layer_internal

using namespace key_layer_internal;

namespace {

// Where the keyboard state comes from; written by tests before other threads run, read by
// start-up and the display thread.
std::atomic<KeyboardStateSource> keyboard_state_source{nullptr};

uint32_t keyboard_state(bool with_held_keys) {
    KeyboardStateSource source = keyboard_state_source.load(std::memory_order_acquire);
    return source ? source() : platform_lock_key_state(with_held_keys);
}

} // namespace

void lock_keys_sync() {
    uint32_t state = keyboard_state(false); // outside the lock: it may ask the X server
    bool pressed = false;
    {
        std::lock_guard<std::mutex> guard(key_lock);
        if (((state & KEYBOARD_SCROLL_LOCK_ON) != 0) != is_held(KEY_SCROLL_LOCK_ON)) {
            toggle_held(KEY_SCROLL_LOCK_ON);
            flags_update();
        }
        auto sync = [&](uint32_t bit, KeyCode lock) {
            if (((state & bit) != 0) == is_held(lock)) return;
            if (is_held(lock)) {
                release(lock);
            } else {
                press(lock);
                pressed = true;
            }
            flags_update();
        };
        sync(KEYBOARD_CAPS_LOCK_ON, KEY_CAPS_LOCK);
        sync(KEYBOARD_NUM_LOCK_ON, KEY_NUM_LOCK);
    }
    if (pressed) signal_key_event();
}

void keys_startup() {
    uint32_t state = keyboard_state(true);
    {
        std::lock_guard<std::mutex> guard(key_lock);
        if (state & KEYBOARD_SCROLL_LOCK_ON) add_held(KEY_SCROLL_LOCK_ON);
        const struct {
            uint32_t bit;
            KeyCode code;
        } held_at_start[] = {
            {KEYBOARD_SCROLL_LOCK_DOWN, KEY_SCROLL_LOCK},
            {KEYBOARD_LEFT_SHIFT_DOWN, KEY_LEFT_SHIFT},
            {KEYBOARD_RIGHT_SHIFT_DOWN, KEY_RIGHT_SHIFT},
            {KEYBOARD_LEFT_CTRL_DOWN, KEY_LEFT_CTRL},
            {KEYBOARD_RIGHT_CTRL_DOWN, KEY_RIGHT_CTRL},
            {KEYBOARD_LEFT_ALT_DOWN, KEY_LEFT_ALT},
            {KEYBOARD_RIGHT_ALT_DOWN, KEY_RIGHT_ALT},
        };
        for (const auto& key : held_at_start) {
            if (state & key.bit) press(key.code);
        }
        if (state & KEYBOARD_CAPS_LOCK_ON) press(KEY_CAPS_LOCK);
        if (state & KEYBOARD_NUM_LOCK_ON) press(KEY_NUM_LOCK);
        flags_update();
        keys.ring_read = keys.ring_write;
        buffer_empty();
    }
    signal_key_event();
}

void keys_reset() {
    mouse_reset();
    std::lock_guard<std::mutex> guard(key_lock);
    keys.held.clear();
    keys.ring_write = keys.ring_read = 0;
    keys.scan_count = 0;
    keys.suppress.fill(0);
    keys.suppress_top = -1;
    reset_traps();
    keys.softkey_injecting = 0;
    keyboard_state_source.store(nullptr, std::memory_order_release);
    key_pressed_flag.store(0, std::memory_order_relaxed);
    alt_enter_request.store(0, std::memory_order_relaxed);
    buffer_empty();
    flags_update();
}

void keys_set_keyboard_state_source(KeyboardStateSource source) {
    keyboard_state_source.store(source, std::memory_order_release);
}
