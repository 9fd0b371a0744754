// Key traps and function-key texts: which armed trap or text a press matches. A match consumes
// the press (and its release); a text types its characters in as presses of their own.
#include "runtime/input/key_layer.h"

namespace key_layer_internal {

// Whether a user-defined trap's shift flags agree with the keys held for a press of `code`.
static bool trap_flags_agree(uint8_t flags, KeyCode code) {
    int key_class = modifier_class(code);
    auto modifier_agrees = [&](uint8_t mask, int modifier_class_bits, bool held) {
        if (key_class == modifier_class_bits) return true;
        return ((flags & mask) != 0) == held;
    };
    auto lock_agrees = [&](uint8_t mask, int lock_class, KeyCode lock) {
        if (key_class == lock_class || (flags & mask) == 0) return true;
        return is_held(lock);
    };
    return modifier_agrees(KEY_TRAP_SHIFT, CLASS_SHIFT, shift_held()) &&
           modifier_agrees(KEY_TRAP_CTRL, CLASS_CTRL, ctrl_held()) &&
           modifier_agrees(KEY_TRAP_ALT, CLASS_ALT, alt_held()) &&
           lock_agrees(KEY_TRAP_NUM_LOCK, CLASS_NUM_LOCK, KEY_NUM_LOCK) &&
           lock_agrees(KEY_TRAP_CAPS_LOCK, CLASS_CAPS_LOCK, KEY_CAPS_LOCK) &&
           ((flags & KEY_TRAP_EXTENDED) != 0) == is_extended_key(code);
}

// A trap armed for this press, or -1.
int matching_trap(KeyCode code, const KeyHit& hit) {
    uint8_t scan_code = trap_scan_code(code);
    if (scan_code != 0) {
        for (int i = 0; i < KEY_TRAP_SLOTS; ++i) {
            const KeyTrapSlot& slot = keys.traps[size_t(i)];
            if (slot.handler != 0 && slot.state != 0 && slot.scan_code == scan_code &&
                trap_flags_agree(slot.shift_flags, code))
                return i;
        }
    }
    for (int i = 0; i < KEY_TRAP_SLOTS; ++i) {
        const KeyTrapSlot& slot = keys.traps[size_t(i)];
        if (slot.handler != 0 && slot.state != 0 &&
            (slot.key_code == hit.value || slot.alternative == code))
            return i;
    }
    return -1;
}

int matching_function_text(KeyCode code, const KeyHit& hit) {
    for (int i = 0; i < KEY_TRAP_SLOTS; ++i) {
        const KeyTrapSlot& slot = keys.traps[size_t(i)];
        if (!slot.function_text.empty() && (slot.key_code == hit.value || slot.alternative == code))
            return i;
    }
    return -1;
}

void reset_traps() {
    for (KeyTrapSlot& slot : keys.traps) slot = KeyTrapSlot{};
    for (int i = 0; i < 10; ++i) keys.traps[size_t(1 + i)].key_code = KEY_F1 + (i << 8);
    keys.traps[11].key_code = KEY_UP;
    keys.traps[11].alternative = KEY_KEYPAD_NUMERIC_0 + 8;
    keys.traps[12].key_code = KEY_LEFT;
    keys.traps[12].alternative = KEY_KEYPAD_NUMERIC_0 + 4;
    keys.traps[13].key_code = KEY_RIGHT;
    keys.traps[13].alternative = KEY_KEYPAD_NUMERIC_0 + 6;
    keys.traps[14].key_code = KEY_DOWN;
    keys.traps[14].alternative = KEY_KEYPAD_NUMERIC_0 + 2;
    keys.traps[30].key_code = KEY_F11;
    keys.traps[31].key_code = KEY_F12;
}

} // namespace key_layer_internal

using namespace key_layer_internal;

KeyTrapSlot key_trap_slot(int slot) {
    std::lock_guard<std::mutex> guard(key_lock);
    return keys.traps.at(size_t(slot));
}

void key_trap_slot_set(int slot, const KeyTrapSlot& value) {
    std::lock_guard<std::mutex> guard(key_lock);
    keys.traps.at(size_t(slot)) = value;
}
