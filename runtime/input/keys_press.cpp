// What a press and a release do: Break and Pause first, then traps and function-key texts, then
// the transition ring, the scan-code queue and the BIOS buffer with its flag bytes.
#include <algorithm>
#include <string>

#include "runtime/base/run_state.h"
#include "runtime/input/key_layer.h"

namespace key_layer_internal {

// Break, Pause, the press that ends a pause, and Alt+Enter: keys that act on the run-time rather
// than reach the program. True when the press was one of them.
static bool take_control_key(KeyCode code, bool ctrl) {
    if (code == KEY_BREAK || ((code == KEY_SCROLL_LOCK || code == KEY_BREAK_WITH_CTRL) && ctrl)) {
        if (run_state.exit_polling.load(std::memory_order_relaxed) != 0) {
            run_state.exit_request_flags.fetch_or(2, std::memory_order_relaxed);
        } else {
            run_state.end_requested.store(1, std::memory_order_relaxed);
        }
        return true;
    }
    if (code == KEY_PAUSE || (code == KEY_NUM_LOCK && ctrl)) {
        run_state.pause_state.fetch_or(1, std::memory_order_relaxed);
        run_state.event_pending.store(1, std::memory_order_release);
        return true;
    }
    // The press that ends a pause does nothing else.
    if (run_state.pause_state.load(std::memory_order_relaxed) & 1) {
        run_state.pause_state.fetch_and(uint8_t(~1u), std::memory_order_relaxed);
        return true;
    }
    if (code == 13 && alt_held()) {
        alt_enter_request.store(1, std::memory_order_relaxed);
        return true;
    }
    return false;
}

// An armed trap or a function-key text that consumes the press. True when one did.
static bool take_trap_or_text(KeyCode code, const KeyHit& hit) {
    if (keys.softkey_injecting != 0) return false;
    int trap = matching_trap(code, hit);
    if (trap >= 0) {
        KeyTrapSlot& slot = keys.traps[size_t(trap)];
        slot.pending = slot.state == 1 ? uint8_t(std::min(slot.pending + 1, 255)) : 1;
        run_state.event_pending.store(1, std::memory_order_release);
        suppress_release(code);
        return true;
    }
    // The characters of a text match no text themselves: a text that typed its own key would
    // recurse without end.
    int text = matching_function_text(code, hit);
    if (text < 0) return false;
    suppress_release(code);
    keys.softkey_injecting = 1;
    // A copy: nothing here changes the slot, but the text must outlive the loop.
    std::string typed = keys.traps[size_t(text)].function_text;
    for (unsigned char character : typed) {
        press(character);
        release(character);
    }
    keys.softkey_injecting = 0;
    return true;
}

// The scan-code queue, the flag bytes and the BIOS buffer for a press that reached the program.
// `was_held` tells auto-repeat from a new press of Insert and Scroll Lock.
static void buffer_press(KeyCode buffered, bool was_held, bool ctrl) {
    uint8_t character = 0, scan_code = 0;
    if (buffered >= 0 && buffered <= 0xFF) {
        const KeyTranslationRow& row = KEY_TRANSLATION_TABLE[size_t(buffered)];
        character = uint8_t(buffered);
        scan_code = row.scan_code;
        // Characters without a key of their own go in as they are, whatever is held.
        if (scan_code != 0) {
            scan_code_put(scan_code);
            if (!translate(row.value[character_state()], row.scan_code, character, scan_code))
                return;
        }
    } else if (int row_index = keypad_or_extended_row(buffered); row_index >= 0) {
        const KeyTranslationRow& row = KEY_TRANSLATION_TABLE[size_t(row_index)];
        scan_code = uint8_t(buffered >> 8);
        if (row.value[KEY_STATE_NORMAL] != 0) {
            scan_code_put(row.scan_code);
            if (buffered == KEY_INSERT && !was_held && !shift_held() && !ctrl_held() &&
                !alt_held()) {
                toggle_held(KEY_INSERT_MODE_ON);
                flags_update();
            }
            if (!translate(row.value[keypad_state(buffered)], row.scan_code, character, scan_code))
                return;
        }
    } else {
        // Modifier and lock keys change the flags and buffer nothing.
        if (buffered == KEY_SCROLL_LOCK) {
            scan_code_put(SCAN_SCROLL_LOCK);
            if (!was_held && !ctrl) toggle_held(KEY_SCROLL_LOCK_ON);
            flags_update();
        } else if (uint8_t make = modifier_scan_code(buffered); make != 0) {
            scan_code_put(make);
            flags_update();
        }
        return;
    }
    buffer_put(character, scan_code); // a full buffer drops the key
}

// A press; the caller holds key_lock and signals the waits afterwards.
void press(KeyCode code) {
    if (code == 0) code = KEY_CODE_ZERO;
    bool was_held = is_held(code);
    add_held(code);
    bool ctrl = ctrl_held();
    if (!take_control_key(code, ctrl)) {
        KeyHit hit = transition_of(code);
        if (!take_trap_or_text(code, hit)) {
            ring_put(hit.value, hit.keypad);
            buffer_press(code == KEY_CODE_ZERO ? 0 : code, was_held, ctrl);
        }
    }
    key_pressed_flag.store(1, std::memory_order_relaxed);
}

// A release; the caller holds key_lock.
void release(KeyCode code) {
    if (code == 0) code = KEY_CODE_ZERO;
    remove_held(code);
    if (take_suppressed(code)) return;

    KeyHit hit = transition_of(code);
    ring_put(-hit.value, hit.keypad);

    if (code >= 0 && code <= 0xFF) {
        const KeyTranslationRow& row = KEY_TRANSLATION_TABLE[size_t(code)];
        if (row.value[KEY_STATE_NORMAL] != 0) scan_code_put(row.scan_code | SCAN_BREAK_BIT);
    } else if (int row_index = keypad_or_extended_row(code); row_index >= 0) {
        const KeyTranslationRow& row = KEY_TRANSLATION_TABLE[size_t(row_index)];
        if (row.value[KEY_STATE_NORMAL] != 0) {
            scan_code_put(row.scan_code | SCAN_BREAK_BIT);
            if (code == KEY_INSERT) flags_update();
        }
    } else if (uint8_t make = modifier_scan_code(code); make != 0) {
        scan_code_put(make | SCAN_BREAK_BIT);
        flags_update();
    }
}

} // namespace key_layer_internal

using namespace key_layer_internal;

void key_down(KeyCode code) {
    {
        std::lock_guard<std::mutex> guard(key_lock);
        press(code);
    }
    signal_key_event();
}

void key_up(KeyCode code) {
    std::lock_guard<std::mutex> guard(key_lock);
    release(code);
}

bool key_alt_enter_take() {
    return alt_enter_request.exchange(0, std::memory_order_relaxed) != 0;
}
