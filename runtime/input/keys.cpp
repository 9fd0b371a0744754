#include "runtime/input/keys.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "runtime/base/run_state.h"
#include "runtime/input/detail.h"
#include "runtime/memory/conv.h"
#include "runtime/platform/platform.h"

// --- Key-layer state ---------------------------------------------------------------------------

std::atomic<int32_t> key_pressed_flag{0};

namespace {

constexpr uint32_t KEY_HIT_MASK = KEY_HIT_RING_ENTRIES - 1;
static_assert((KEY_HIT_RING_ENTRIES & KEY_HIT_MASK) == 0);

// The BIOS keeps its buffer as offsets from segment 0x40.
constexpr uint32_t BIOS_DATA_BASE = 0x400;
constexpr uint8_t BIOS_BUFFER_FIRST = uint8_t(BIOS_KEYBOARD_BUFFER - BIOS_DATA_BASE);   // 0x1E
constexpr uint8_t BIOS_BUFFER_END = uint8_t(BIOS_KEYBOARD_BUFFER_END - BIOS_DATA_BASE); // 0x3E

constexpr int KEYPAD_KEYS = 16;
constexpr int KEYPAD_CURSOR_KEYS = 11;
constexpr int KEYPAD_DIGIT_KEYS = 11; // 0-9 and "."; only these have a numeric state

constexpr uint8_t SCAN_SCROLL_LOCK = 70;
constexpr uint8_t SCAN_BREAK_BIT = 0x80; // a release sends the make code with bit 7 set

// Modifier classes, in the bit positions of a trap's shift flags.
constexpr int CLASS_SHIFT = 0x03;
constexpr int CLASS_CTRL = 0x04;
constexpr int CLASS_ALT = 0x08;
constexpr int CLASS_NUM_LOCK = 0x20;
constexpr int CLASS_CAPS_LOCK = 0x40;

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

// Everything the window and display threads change and the program thread reads, apart from the
// BIOS buffer, the flag bytes and the atomics below. Guarded by key_lock.
struct KeyLayer {
    // Keys down now plus the lock pseudo-keys; no duplicates, order of arrival.
    std::vector<KeyCode> held;
    std::array<KeyHit, KEY_HIT_RING_ENTRIES> ring{};
    uint32_t ring_write = 0;
    uint32_t ring_read = 0;
    std::array<uint8_t, SCAN_CODE_QUEUE_BYTES> scan_queue{};
    int32_t scan_count = 0;
    // Keys whose press a trap or a function-key text consumed; 0 = free entry.
    std::array<KeyCode, RELEASE_SUPPRESS_ENTRIES> suppress{};
    int32_t suppress_top = -1;
    std::array<KeyTrapSlot, KEY_TRAP_SLOTS> traps{};
    // 1 while a function-key text is typed in, so that its characters match no trap or text.
    int32_t softkey_injecting = 0;
};

std::mutex key_lock;
KeyLayer keys;

// Where the keyboard state comes from; written by tests before other threads run, read by
// start-up and the display thread.
std::atomic<KeyboardStateSource> keyboard_state_source{nullptr};

// Set by Alt+Enter on the window thread; taken by the presenter.
std::atomic<int32_t> alt_enter_request{0};

// Bumped (release) by every key press and wake-up call, after the press has landed in the BIOS
// buffer and key_pressed_flag; loaded (acquire) by the program thread's waits.
std::atomic<uint32_t> key_event_sequence{0};
std::mutex wake_lock;
std::condition_variable wake_signal;

void signal_key_event() {
    key_event_sequence.fetch_add(1, std::memory_order_release);
    // Taking the lock once orders this bump against a waiter between its test and its sleep.
    { std::lock_guard<std::mutex> guard(wake_lock); }
    wake_signal.notify_all();
}

uint32_t keyboard_state(bool with_held_keys) {
    KeyboardStateSource source = keyboard_state_source.load(std::memory_order_acquire);
    return source ? source() : platform_lock_key_state(with_held_keys);
}

// --- BIOS buffer: the key layer moves the tail, the reader the head. The slot bytes are stored
// before the tail with release, and read after the tail with acquire; likewise the head.

uint8_t load_acquire(uint32_t linear) {
    return std::atomic_ref<uint8_t>(conv_memory[linear]).load(std::memory_order_acquire);
}
void store_release(uint32_t linear, uint8_t value) {
    std::atomic_ref<uint8_t>(conv_memory[linear]).store(value, std::memory_order_release);
}

// 0x3C wraps to 0x1E. An offset that a program poked outside the ring also comes back to it.
uint8_t next_offset(uint8_t offset) {
    unsigned next = offset + 2u;
    return next >= BIOS_BUFFER_END || next < BIOS_BUFFER_FIRST ? BIOS_BUFFER_FIRST : uint8_t(next);
}

bool buffer_put(uint8_t character, uint8_t scan_code) {
    uint8_t tail = conv_load8(BIOS_KEYBOARD_TAIL);
    uint8_t next = next_offset(tail);
    if (next == load_acquire(BIOS_KEYBOARD_HEAD)) return false; // full: 15 keys wait
    conv_store8(BIOS_DATA_BASE + tail, character);
    conv_store8(BIOS_DATA_BASE + tail + 1, scan_code);
    store_release(BIOS_KEYBOARD_TAIL, next);
    return true;
}

void buffer_empty() {
    conv_store8(BIOS_KEYBOARD_HEAD + 1, 0);
    conv_store8(BIOS_KEYBOARD_TAIL + 1, 0);
    store_release(BIOS_KEYBOARD_HEAD, BIOS_BUFFER_FIRST);
    store_release(BIOS_KEYBOARD_TAIL, BIOS_BUFFER_FIRST);
}

// --- Helpers; the caller holds key_lock.

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

bool is_numeric_keypad_digit(KeyCode code) {
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

const ModifierKey* modifier_key(KeyCode code) {
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

void ring_put(int32_t value, int32_t keypad) {
    uint32_t next = (keys.ring_write + 1) & KEY_HIT_MASK;
    if (next == keys.ring_read) keys.ring_read = (keys.ring_read + 1) & KEY_HIT_MASK;
    keys.ring[keys.ring_write] = {value, keypad};
    keys.ring_write = next;
}

void scan_code_put(uint8_t byte) {
    // A key that repeats sends its make code again; the queue keeps one.
    if (keys.scan_count > 0 && keys.scan_queue[size_t(keys.scan_count - 1)] == byte) return;
    if (keys.scan_count == SCAN_CODE_QUEUE_BYTES) {
        std::copy(keys.scan_queue.begin() + 1, keys.scan_queue.end(), keys.scan_queue.begin());
        --keys.scan_count;
    }
    keys.scan_queue[size_t(keys.scan_count++)] = byte;
}

void suppress_release(KeyCode code) {
    for (int32_t i = 0; i <= keys.suppress_top; ++i) {
        if (keys.suppress[size_t(i)] == 0) {
            keys.suppress[size_t(i)] = code;
            return;
        }
    }
    if (keys.suppress_top < RELEASE_SUPPRESS_ENTRIES - 1)
        keys.suppress[size_t(++keys.suppress_top)] = code;
}

bool take_suppressed(KeyCode code) {
    for (int32_t i = 0; i <= keys.suppress_top; ++i) {
        if (keys.suppress[size_t(i)] == code) {
            keys.suppress[size_t(i)] = 0;
            return true;
        }
    }
    return false;
}

//  byte   bit  set when
//  0x417  0    right Shift held
//         1    left Shift held
//         2    either Ctrl held
//         3    either Alt held
//         4    Scroll Lock on
//         5    Num Lock on
//         6    Caps Lock on
//         7    insert mode on
//  0x418  0    left Ctrl held
//         1    left Alt held
//         2    System Request held
//         3    Pause held
//         4    Scroll Lock key held
//         7    Insert key held
//  0x496  0    right Ctrl held
//         1    right Alt held
//         4    always: an enhanced (101-key) keyboard is installed
void flags_update() {
    auto bit = [](bool set, int position) { return uint8_t(set ? 1u << position : 0u); };
    uint8_t flags1 = bit(is_held(KEY_RIGHT_SHIFT), 0) | bit(is_held(KEY_LEFT_SHIFT), 1) |
                     bit(ctrl_held(), 2) | bit(alt_held(), 3) |
                     bit(is_held(KEY_SCROLL_LOCK_ON), 4) | bit(is_held(KEY_NUM_LOCK), 5) |
                     bit(is_held(KEY_CAPS_LOCK), 6) | bit(is_held(KEY_INSERT_MODE_ON), 7);
    uint8_t flags2 = bit(is_held(KEY_LEFT_CTRL), 0) | bit(is_held(KEY_LEFT_ALT), 1) |
                     bit(is_held(KEY_SYSTEM_REQUEST), 2) | bit(is_held(KEY_PAUSE), 3) |
                     bit(is_held(KEY_SCROLL_LOCK), 4) | bit(is_held(KEY_INSERT), 7);
    uint8_t flags3 =
        bit(is_held(KEY_RIGHT_CTRL), 0) | bit(is_held(KEY_RIGHT_ALT), 1) | bit(true, 4);
    conv_store8(BIOS_KEYBOARD_FLAGS_1, flags1);
    conv_store8(BIOS_KEYBOARD_FLAGS_2, flags2);
    conv_store8(BIOS_KEYBOARD_FLAGS_3, flags3);
}

// Whether a user-defined trap's shift flags agree with the keys held for a press of `code`.
bool trap_flags_agree(uint8_t flags, KeyCode code) {
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

void release(KeyCode code);

// A press; the caller holds key_lock and signals the waits afterwards.
void press(KeyCode code) {
    if (code == 0) code = KEY_CODE_ZERO;
    bool was_held = is_held(code); // tells auto-repeat from a new press of Insert and Scroll Lock
    add_held(code);

    [&] {
        bool ctrl = ctrl_held();
        if (code == KEY_BREAK ||
            ((code == KEY_SCROLL_LOCK || code == KEY_BREAK_WITH_CTRL) && ctrl)) {
            if (run_state.exit_polling.load(std::memory_order_relaxed) != 0) {
                run_state.exit_request_flags.fetch_or(2, std::memory_order_relaxed);
            } else {
                run_state.end_requested.store(1, std::memory_order_relaxed);
            }
            return;
        }
        if (code == KEY_PAUSE || (code == KEY_NUM_LOCK && ctrl)) {
            run_state.pause_state.fetch_or(1, std::memory_order_relaxed);
            run_state.event_pending.store(1, std::memory_order_release);
            return;
        }
        // The press that ends a pause does nothing else.
        if (run_state.pause_state.load(std::memory_order_relaxed) & 1) {
            run_state.pause_state.fetch_and(uint8_t(~1u), std::memory_order_relaxed);
            return;
        }
        if (code == 13 && alt_held()) {
            alt_enter_request.store(1, std::memory_order_relaxed);
            return;
        }

        KeyHit hit = transition_of(code);
        if (keys.softkey_injecting == 0) {
            int trap = matching_trap(code, hit);
            if (trap >= 0) {
                KeyTrapSlot& slot = keys.traps[size_t(trap)];
                slot.pending = slot.state == 1 ? uint8_t(std::min(slot.pending + 1, 255)) : 1;
                run_state.event_pending.store(1, std::memory_order_release);
                suppress_release(code);
                return;
            }
            // The characters of a text match no text themselves: a text that typed its own key
            // would recurse without end.
            int text = matching_function_text(code, hit);
            if (text >= 0) {
                suppress_release(code);
                keys.softkey_injecting = 1;
                // A copy: nothing here changes the slot, but the text must outlive the loop.
                std::string typed = keys.traps[size_t(text)].function_text;
                for (unsigned char character : typed) {
                    press(character);
                    release(character);
                }
                keys.softkey_injecting = 0;
                return;
            }
        }

        ring_put(hit.value, hit.keypad);

        KeyCode buffered = code == KEY_CODE_ZERO ? 0 : code;
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
                if (!translate(row.value[keypad_state(buffered)], row.scan_code, character,
                               scan_code))
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
    }();

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

} // namespace

// --- Public operations -------------------------------------------------------------------------

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

int32_t key_hit_next() {
    KeyHit hit;
    return key_hit_next_entry(hit) ? hit.value : 0;
}

bool key_hit_next_entry(KeyHit& hit) {
    std::lock_guard<std::mutex> guard(key_lock);
    if (keys.ring_read == keys.ring_write) return false;
    hit = keys.ring[keys.ring_read];
    keys.ring_read = (keys.ring_read + 1) & KEY_HIT_MASK;
    return true;
}

void bios_key_flags_update() {
    std::lock_guard<std::mutex> guard(key_lock);
    flags_update();
}

bool bios_key_buffer_take(uint8_t& character, uint8_t& scan_code) {
    uint8_t head = conv_load8(BIOS_KEYBOARD_HEAD);
    if (head == load_acquire(BIOS_KEYBOARD_TAIL)) return false;
    character = conv_load8(BIOS_DATA_BASE + head);
    scan_code = conv_load8(BIOS_DATA_BASE + head + 1);
    store_release(BIOS_KEYBOARD_HEAD, next_offset(head));
    return true;
}

int32_t scan_code_next() {
    std::lock_guard<std::mutex> guard(key_lock);
    if (keys.scan_count == 0) return -1;
    int32_t oldest = keys.scan_queue[0];
    std::copy(keys.scan_queue.begin() + 1, keys.scan_queue.begin() + keys.scan_count,
              keys.scan_queue.begin());
    --keys.scan_count;
    return oldest;
}

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

bool key_alt_enter_take() {
    return alt_enter_request.exchange(0, std::memory_order_relaxed) != 0;
}

// --- Wake-up -----------------------------------------------------------------------------------

uint32_t key_event_sequence_now() {
    return key_event_sequence.load(std::memory_order_acquire);
}

bool key_event_wait(uint32_t seen, uint32_t timeout_ms) {
    std::unique_lock<std::mutex> guard(wake_lock);
    return wake_signal.wait_for(guard, std::chrono::milliseconds(timeout_ms), [seen] {
        return key_event_sequence.load(std::memory_order_acquire) != seen;
    });
}

void keys_wake_waiters() {
    signal_key_event();
}

// --- Test access -------------------------------------------------------------------------------

std::vector<KeyCode> held_keys_snapshot() {
    std::lock_guard<std::mutex> guard(key_lock);
    return keys.held;
}

std::vector<uint8_t> scan_code_queue_snapshot() {
    std::lock_guard<std::mutex> guard(key_lock);
    return {keys.scan_queue.begin(), keys.scan_queue.begin() + keys.scan_count};
}

std::vector<KeyCode> release_suppress_snapshot() {
    std::lock_guard<std::mutex> guard(key_lock);
    return {keys.suppress.begin(), keys.suppress.begin() + (keys.suppress_top + 1)};
}

KeyTrapSlot key_trap_slot(int slot) {
    std::lock_guard<std::mutex> guard(key_lock);
    return keys.traps.at(size_t(slot));
}

void key_trap_slot_set(int slot, const KeyTrapSlot& value) {
    std::lock_guard<std::mutex> guard(key_lock);
    keys.traps.at(size_t(slot)) = value;
}

void keys_set_keyboard_state_source(KeyboardStateSource source) {
    keyboard_state_source.store(source, std::memory_order_release);
}
