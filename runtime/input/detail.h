#pragma once
// The input family's internals, for keys.cpp, wait.cpp and tests. Not for callers.
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/input/keys.h"

constexpr int KEY_HIT_RING_ENTRIES = 8192; // indices masked with 0x1FFF
constexpr int SCAN_CODE_QUEUE_BYTES = 256;
constexpr int RELEASE_SUPPRESS_ENTRIES = 256;
constexpr int KEY_TRAP_SLOTS = 32;

// Trap shift-flag bits of a user-defined key trap.
constexpr uint8_t KEY_TRAP_SHIFT = 0x03;
constexpr uint8_t KEY_TRAP_CTRL = 0x04;
constexpr uint8_t KEY_TRAP_ALT = 0x08;
constexpr uint8_t KEY_TRAP_NUM_LOCK = 0x20;
constexpr uint8_t KEY_TRAP_CAPS_LOCK = 0x40;
constexpr uint8_t KEY_TRAP_EXTENDED = 0x80;

// One key trap. Only the statements that arm traps (not part of this run-time) set handler,
// state, scan_code, shift_flags and function_text; the key layer matches presses against them.
struct KeyTrapSlot {
    int32_t handler = 0;     // non-zero when the program has set a handler
    uint8_t state = 0;       // 0 off; the dispatch runs the handler only while it is 1
    uint8_t pending = 0;     // presses not yet dispatched
    KeyCode key_code = 0;    // matched against the transition value
    KeyCode alternative = 0; // matched against the code itself
    uint8_t scan_code = 0;   // user-defined keys
    uint8_t shift_flags = 0; // KEY_TRAP_* bits
    // The text a function key types in. A copy owned by the key layer rather than a string of
    // the engine: the engine belongs to the program thread and moves strings when it compacts,
    // while the window thread reads this text.
    std::string function_text;
};

// Copies of the key layer's structures, taken under its lock.
std::vector<KeyCode> held_keys_snapshot();
std::vector<uint8_t> scan_code_queue_snapshot();
std::vector<KeyCode> release_suppress_snapshot(); // entries 0..top index, 0 = free
KeyTrapSlot key_trap_slot(int slot);
void key_trap_slot_set(int slot, const KeyTrapSlot& value);

// One transition of the ring with its keypad flag; false when the ring is empty.
struct KeyHit {
    int32_t value = 0;
    int32_t keypad = 0;
};
bool key_hit_next_entry(KeyHit& hit);

// Empties the mouse-message queue; part of keys_reset.
void mouse_reset();

// Where start-up and the lock-key poll read the keyboard state (KEYBOARD_* bits of platform.h);
// null restores platform_lock_key_state. Lets tests play the operating system.
using KeyboardStateSource = uint32_t (*)();
void keys_set_keyboard_state_source(KeyboardStateSource source);

// The waits' idle strategy: false waits on the key layer's wake-up signal, true polls with the
// zero-length and 9 ms sleeps of plain polling. Chosen once from UNVEILO_LITERAL_SPIN=1;
// tests switch it here.
bool wait_literal_spin();
void wait_set_literal_spin(bool literal);
