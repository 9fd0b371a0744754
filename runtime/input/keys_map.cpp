// From a key code to its row of the PC keyboard translation table, its transition value and the
// (character, scan code) pair it buffers. Pure functions of the code and the modifiers held.
#include "runtime/input/key_layer.h"

namespace key_layer_internal {

// Keypad key n (0-15) of a Num Lock code or a cursor-mode code, else -1.
int keypad_index(KeyCode code) {
    if (code >= KEY_KEYPAD_NUMERIC_0 && code < KEY_KEYPAD_NUMERIC_0 + KEYPAD_KEYS)
        return code - KEY_KEYPAD_NUMERIC_0;
    if (code >= KEY_KEYPAD_CURSOR_INSERT && code < KEY_KEYPAD_CURSOR_INSERT + KEYPAD_CURSOR_KEYS)
        return code - KEY_KEYPAD_CURSOR_INSERT;
    return -1;
}

// The BIOS reports F11 and F12 as 0x85 and 0x86, but their keys send the make codes 87 and 88,
// and that is where their rows are.
constexpr int BIOS_F11 = KEY_F11 >> 8;
constexpr int BIOS_F12 = KEY_F12 >> 8;
constexpr int SCAN_F11 = 87;
constexpr int SCAN_F12 = 88;

// The table row of a keypad or extended code, else -1 (characters index the table directly).
int keypad_or_extended_row(KeyCode code) {
    int keypad = keypad_index(code);
    if (keypad >= 0) return KEY_ROW_KEYPAD + keypad;
    if (code <= 0xFF || code > 0xFFFF) return -1;
    int scan_code = (code >> 8) & 0xFF;
    if (scan_code == BIOS_F11) scan_code = SCAN_F11;
    if (scan_code == BIOS_F12) scan_code = SCAN_F12;
    return KEY_ROW_EXTENDED + scan_code;
}

static bool is_numeric_keypad_digit(KeyCode code) {
    return code >= KEY_KEYPAD_NUMERIC_0 && code < KEY_KEYPAD_NUMERIC_0 + KEYPAD_DIGIT_KEYS;
}

// The transition value stored in the ring and matched by traps: keypad keys report what they
// type, "0"-"9" and so on with Num Lock, the cursor key's code without.
KeyHit transition_of(KeyCode code) {
    if (code >= KEY_KEYPAD_NUMERIC_0 && code < KEY_KEYPAD_NUMERIC_0 + KEYPAD_KEYS)
        return {KEY_TRANSLATION_TABLE[KEY_ROW_KEYPAD + keypad_index(code)].value[KEY_STATE_NUMERIC],
                1};
    if (code >= KEY_KEYPAD_CURSOR_INSERT && code < KEY_KEYPAD_CURSOR_INSERT + KEYPAD_CURSOR_KEYS)
        return {KEY_TRANSLATION_TABLE[KEY_ROW_KEYPAD + keypad_index(code)].scan_code << 8, 1};
    return {code, 0};
}

// Keys that a PC keyboard sends with the 0xE0 prefix: the grey cursor block, keypad "/" and
// Enter, and the right Ctrl and Alt.
bool is_extended_key(KeyCode code) {
    switch (code) {
    case KEY_LEFT:
    case KEY_UP:
    case KEY_RIGHT:
    case KEY_DOWN:
    case KEY_INSERT:
    case KEY_HOME:
    case KEY_PAGE_UP:
    case KEY_DELETE:
    case KEY_END:
    case KEY_PAGE_DOWN:
    case KEY_KEYPAD_NUMERIC_SLASH:
    case KEY_KEYPAD_NUMERIC_ENTER:
    case KEY_RIGHT_CTRL:
    case KEY_RIGHT_ALT: return true;
    default: return false;
    }
}

// The scan code a user-defined trap is matched by.
uint8_t trap_scan_code(KeyCode code) {
    if (code >= 0 && code <= 0xFF) return KEY_TRANSLATION_TABLE[code].scan_code;
    int row = keypad_or_extended_row(code);
    if (row >= 0) {
        const KeyTranslationRow& entry = KEY_TRANSLATION_TABLE[row];
        return entry.value[KEY_STATE_NORMAL] != 0 ? entry.scan_code : 0;
    }
    return modifier_scan_code(code);
}

// The column the held modifiers select; later choices win over earlier ones.
int character_state() {
    int state = KEY_STATE_NORMAL;
    if (shift_held()) state = KEY_STATE_SHIFT;
    if (ctrl_held()) state = KEY_STATE_CTRL;
    if (alt_held()) state = KEY_STATE_ALT;
    return state;
}

int keypad_state(KeyCode code) {
    bool shift = shift_held();
    int state = KEY_STATE_NORMAL;
    if (shift) state = KEY_STATE_SHIFT;
    if (is_numeric_keypad_digit(code)) state = shift ? KEY_STATE_NUMERIC_SHIFT : KEY_STATE_NUMERIC;
    if (ctrl_held()) state = KEY_STATE_CTRL;
    if (alt_held()) state = KEY_STATE_ALT;
    return state;
}

// Applies a table value to the pair to buffer; false when the value buffers nothing.
bool translate(int32_t value, uint8_t row_scan_code, uint8_t& character, uint8_t& scan_code) {
    if (value == 0) return false;
    if (((value >> 8) & 0xFF) != 0) {
        character = 0;
        scan_code = uint8_t(value >> 8);
    } else {
        character = uint8_t(value);
        scan_code = row_scan_code;
    }
    return true;
}

} // namespace key_layer_internal
