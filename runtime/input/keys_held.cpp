// The set of held keys (keys down now plus the lock and insert-mode pseudo-keys) and what the
// modifier keys are. Guarantees: no duplicates, order of arrival; every query under key_lock.
#include <algorithm>

#include "runtime/input/key_layer.h"

namespace key_layer_internal {

// The modifier and lock keys with their PC make codes; both Ctrl and both Alt keys share one.
struct ModifierKey {
    KeyCode code;
    uint8_t make_code;
    int key_class;
};
constexpr ModifierKey MODIFIER_KEYS[] = {
    {KEY_LEFT_SHIFT, 42, CLASS_SHIFT},      {KEY_RIGHT_SHIFT, 54, CLASS_SHIFT},
    {KEY_LEFT_CTRL, 29, CLASS_CTRL},        {KEY_RIGHT_CTRL, 29, CLASS_CTRL},
    {KEY_LEFT_ALT, 56, CLASS_ALT},          {KEY_RIGHT_ALT, 56, CLASS_ALT},
    {KEY_NUM_LOCK, 69, CLASS_NUM_LOCK},     {KEY_CAPS_LOCK, 58, CLASS_CAPS_LOCK},
    {KEY_SCROLL_LOCK, SCAN_SCROLL_LOCK, 0},
};

bool is_held(KeyCode code) {
    return std::find(keys.held.begin(), keys.held.end(), code) != keys.held.end();
}
void add_held(KeyCode code) {
    if (!is_held(code)) keys.held.push_back(code);
}
void remove_held(KeyCode code) {
    auto found = std::find(keys.held.begin(), keys.held.end(), code);
    if (found != keys.held.end()) keys.held.erase(found);
}
void toggle_held(KeyCode code) {
    if (is_held(code)) {
        remove_held(code);
    } else {
        keys.held.push_back(code);
    }
}
bool shift_held() {
    return is_held(KEY_LEFT_SHIFT) || is_held(KEY_RIGHT_SHIFT);
}
bool ctrl_held() {
    return is_held(KEY_LEFT_CTRL) || is_held(KEY_RIGHT_CTRL);
}
bool alt_held() {
    return is_held(KEY_LEFT_ALT) || is_held(KEY_RIGHT_ALT);
}

static const ModifierKey* modifier_key(KeyCode code) {
    for (const ModifierKey& key : MODIFIER_KEYS) {
        if (key.code == code) return &key;
    }
    return nullptr;
}

// Make code of a modifier or lock key, 0 for any other key.
uint8_t modifier_scan_code(KeyCode code) {
    const ModifierKey* key = modifier_key(code);
    return key ? key->make_code : 0;
}

int modifier_class(KeyCode code) {
    const ModifierKey* key = modifier_key(code);
    return key ? key->key_class : 0;
}

} // namespace key_layer_internal

using namespace key_layer_internal;

int32_t key_is_held(KeyCode code) {
    std::lock_guard<std::mutex> guard(key_lock);
    if (is_held(code)) return 1;
    // A character or cursor key typed on the keypad is held under the keypad's own code.
    switch (code) {
    case '.': return is_held(KEY_KEYPAD_NUMERIC_POINT);
    case '/': return is_held(KEY_KEYPAD_NUMERIC_SLASH);
    case '*': return is_held(KEY_KEYPAD_NUMERIC_STAR);
    case '-': return is_held(KEY_KEYPAD_NUMERIC_MINUS);
    case '+': return is_held(KEY_KEYPAD_NUMERIC_PLUS);
    case 13: return is_held(KEY_KEYPAD_NUMERIC_ENTER);
    default: break;
    }
    if (code >= '0' && code <= '9') return is_held(KEY_KEYPAD_NUMERIC_0 + (code - '0'));
    int scan_code = (code >> 8) & 0xFF;
    for (int n = 0; n < KEYPAD_CURSOR_KEYS; ++n) {
        // Keypad 5's cursor code is 0x4C00; "-" (0x4A) and "+" (0x4E) have no cursor twin.
        if (KEY_TRANSLATION_TABLE[KEY_ROW_KEYPAD + n].scan_code == scan_code)
            return is_held(KEY_KEYPAD_CURSOR_INSERT + n);
    }
    return 0;
}

std::vector<KeyCode> held_keys_snapshot() {
    std::lock_guard<std::mutex> guard(key_lock);
    return keys.held;
}
