#pragma once
// The key layer's shared state and the helpers its files use on it. Internal to the input family:
// callers use keys.h, tests detail.h.
//
// Every helper below expects the caller to hold key_lock, except the BIOS-buffer functions
// (single producer, single consumer through atomics in the emulated memory) and signal_key_event.
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "runtime/input/detail.h"
#include "runtime/input/keys.h"

namespace key_layer_internal {

constexpr uint32_t KEY_HIT_MASK = KEY_HIT_RING_ENTRIES - 1;
static_assert((KEY_HIT_RING_ENTRIES & KEY_HIT_MASK) == 0);

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

extern std::mutex key_lock;
extern KeyLayer keys;

// Set by Alt+Enter on the window thread; taken by the presenter.
extern std::atomic<int32_t> alt_enter_request;

// --- Held set and modifiers (keys_held.cpp)
bool is_held(KeyCode code);
void add_held(KeyCode code);
void remove_held(KeyCode code);
void toggle_held(KeyCode code);
bool shift_held();
bool ctrl_held();
bool alt_held();
// Make code of a modifier or lock key, 0 for any other key.
uint8_t modifier_scan_code(KeyCode code);
// The CLASS_* of a modifier or lock key, 0 for any other key.
int modifier_class(KeyCode code);

// --- Key codes to table rows and values (keys_map.cpp); pure functions of the code and the held
// modifiers.
int keypad_index(KeyCode code);
int keypad_or_extended_row(KeyCode code);
KeyHit transition_of(KeyCode code);
bool is_extended_key(KeyCode code);
uint8_t trap_scan_code(KeyCode code);
int character_state();
int keypad_state(KeyCode code);
bool translate(int32_t value, uint8_t row_scan_code, uint8_t& character, uint8_t& scan_code);

// --- Transition ring, scan-code queue, release suppression (keys_queues.cpp)
void ring_put(int32_t value, int32_t keypad);
void scan_code_put(uint8_t byte);
void suppress_release(KeyCode code);
bool take_suppressed(KeyCode code);

// --- BIOS keyboard buffer and flag bytes (keys_bios.cpp)
bool buffer_put(uint8_t character, uint8_t scan_code);
void buffer_empty();
void flags_update();

// --- Traps and function-key texts (keys_traps.cpp)
int matching_trap(KeyCode code, const KeyHit& hit);
int matching_function_text(KeyCode code, const KeyHit& hit);
void reset_traps();

// --- Presses and releases (keys_press.cpp)
void press(KeyCode code);
void release(KeyCode code);

// --- Wake-up (keys_wake.cpp): bumps the key-event sequence and wakes the waits. Without the lock.
void signal_key_event();

} // namespace key_layer_internal
