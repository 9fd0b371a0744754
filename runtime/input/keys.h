#pragma once
// Key intake: key presses in our own KeyCode values (the window code translates its library's
// numbers) feed the set of held keys, a ring of raw
// transitions, a queue of PC scan codes and (character, scan code) pairs in the emulated BIOS
// keyboard buffer, with the BIOS keyboard-flag bytes kept in step. Also the mouse-message queue
// that the same window callbacks feed, and the wake-up signal the key waits sleep on.
//
// Threads. The window thread (freeglut callbacks, window_event_hook) and the display thread
// (lock_keys_sync) write; start-up writes before either exists; the program thread reads. All
// key-layer state except the BIOS buffer and the flags below sits behind one small lock taken by
// every public function here, so none of them may be called from inside another. The BIOS
// buffer is single-producer (the key layer moves the tail) and single-consumer (readers move the
// head); its bytes are read and written as atomics in the emulated memory.
#include <array>
#include <atomic>
#include <cstdint>

using KeyCode = int32_t;

// Extended keys carry their PC scan code in the second byte.
constexpr KeyCode KEY_F1 = 0x3B00; // F1-F10 are 0x3B00-0x4400
constexpr KeyCode KEY_F10 = 0x4400;
constexpr KeyCode KEY_F11 = 0x8500;
constexpr KeyCode KEY_F12 = 0x8600;
constexpr KeyCode KEY_HOME = 0x4700;
constexpr KeyCode KEY_UP = 0x4800;
constexpr KeyCode KEY_PAGE_UP = 0x4900;
constexpr KeyCode KEY_LEFT = 0x4B00;
constexpr KeyCode KEY_KEYPAD_CENTER = 0x4C00; // keypad 5 in cursor mode
constexpr KeyCode KEY_RIGHT = 0x4D00;
constexpr KeyCode KEY_END = 0x4F00;
constexpr KeyCode KEY_DOWN = 0x5000;
constexpr KeyCode KEY_PAGE_DOWN = 0x5100;
constexpr KeyCode KEY_INSERT = 0x5200;
constexpr KeyCode KEY_DELETE = 0x5300;
// Modifier, lock and special keys.
constexpr KeyCode KEY_PAUSE = 100019;
constexpr KeyCode KEY_BREAK_WITH_CTRL = 100296; // acts as Break while either Ctrl is held
constexpr KeyCode KEY_NUM_LOCK = 100300;        // held while Num Lock is on
constexpr KeyCode KEY_CAPS_LOCK = 100301;       // held while Caps Lock is on
constexpr KeyCode KEY_SCROLL_LOCK = 100302;     // the key itself
constexpr KeyCode KEY_RIGHT_SHIFT = 100303;
constexpr KeyCode KEY_LEFT_SHIFT = 100304;
constexpr KeyCode KEY_RIGHT_CTRL = 100305;
constexpr KeyCode KEY_LEFT_CTRL = 100306;
constexpr KeyCode KEY_RIGHT_ALT = 100307;
constexpr KeyCode KEY_LEFT_ALT = 100308;
constexpr KeyCode KEY_SYSTEM_REQUEST = 100317;
constexpr KeyCode KEY_BREAK = 100318;
// Keypad with Num Lock on: 0-9 are KEY_KEYPAD_NUMERIC_0 + n, then ".", "/", "*", "-", "+", Enter.
constexpr KeyCode KEY_KEYPAD_NUMERIC_0 = 100256;
constexpr KeyCode KEY_KEYPAD_NUMERIC_POINT = 100266;
constexpr KeyCode KEY_KEYPAD_NUMERIC_SLASH = 100267;
constexpr KeyCode KEY_KEYPAD_NUMERIC_STAR = 100268;
constexpr KeyCode KEY_KEYPAD_NUMERIC_MINUS = 100269;
constexpr KeyCode KEY_KEYPAD_NUMERIC_PLUS = 100270;
constexpr KeyCode KEY_KEYPAD_NUMERIC_ENTER = 100271;
// Keypad in cursor mode: Ins, End, Down, Page Down, Left, 5, Right, Home, Up, Page Up, Del.
constexpr KeyCode KEY_KEYPAD_CURSOR_INSERT = 200000;
constexpr KeyCode KEY_KEYPAD_CURSOR_DELETE = 200010;
// Pseudo-keys that live only in the held set (and, for code 0, in the transition ring).
constexpr KeyCode KEY_SCROLL_LOCK_ON = 200011;
constexpr KeyCode KEY_INSERT_MODE_ON = 200012;
constexpr KeyCode KEY_CODE_ZERO = 200013;

// --- The PC keyboard translation table ---------------------------------------------------------

// Columns of a row: the state chosen from the modifiers held.
constexpr int KEY_STATE_NORMAL = 0;
constexpr int KEY_STATE_SHIFT = 1;
constexpr int KEY_STATE_CTRL = 2;
constexpr int KEY_STATE_ALT = 3;
constexpr int KEY_STATE_NUMERIC = 4;       // keypad digits with Num Lock on
constexpr int KEY_STATE_NUMERIC_SHIFT = 5; // the same with Shift: back to cursor keys
constexpr int KEY_STATES = 6;

// Rows 0-255 are characters, KEY_ROW_EXTENDED + s the extended key of scan code s, and
// KEY_ROW_KEYPAD + n the keypad keys 0-9, ".", "/", "*", "-", "+", Enter.
constexpr int KEY_ROW_EXTENDED = 256;
constexpr int KEY_ROW_KEYPAD = 512;
constexpr int KEY_TRANSLATION_ROWS = 528;

// A value of 0 buffers nothing; a value with a non-zero second byte is buffered as character 0
// with scan code value >> 8; any other value is the character, buffered with the row's scan code.
struct KeyTranslationRow {
    uint8_t scan_code = 0;
    int32_t value[KEY_STATES] = {};
};

extern const std::array<KeyTranslationRow, KEY_TRANSLATION_ROWS> KEY_TRANSLATION_TABLE;

// --- Shared flags ------------------------------------------------------------------------------

// Set to 1 at the end of every key press (window and display threads); cleared by the sleep
// statement on the program thread, which then waits for it.
extern std::atomic<int32_t> key_pressed_flag;

// --- Key layer ---------------------------------------------------------------------------------

// Records a press or release of one KeyCode: held set, transition ring, scan-code queue, BIOS
// buffer and flag bytes, Pause and Break, traps and function-key texts.
void key_down(KeyCode code);
void key_up(KeyCode code);

// 1 if the key counts as held (a keypad twin of a character or cursor key counts too), else 0.
int32_t key_is_held(KeyCode code);

// The next raw transition (positive press, negated release), 0 when the ring is empty.
int32_t key_hit_next();

// Recomputes the BIOS keyboard-flag bytes 0x417, 0x418 and 0x496 from the held set.
void bios_key_flags_update();

// Takes the oldest (character, scan code) pair out of the BIOS keyboard buffer; false when it is
// empty. Program thread (the only consumer).
bool bios_key_buffer_take(uint8_t& character, uint8_t& scan_code);

// The oldest byte of the scan-code queue, removed; -1 when the queue is empty.
int32_t scan_code_next();

// Brings Scroll, Caps and Num Lock in line with the platform's toggles. Display thread.
void lock_keys_sync();

// Start-up seeding from the platform keyboard state: lock toggles and held modifiers become held
// keys, the flag bytes are rewritten, the ring and the BIOS buffer are emptied. Call after
// keys_reset, before the program thread starts.
void keys_startup();

// Empties every key-layer structure, fills the trap slots' start-up key codes, and writes an empty
// BIOS buffer and the flag bytes into the emulated memory (which must exist). Start-up and tests.
void keys_reset();

// True once after Alt+Enter was pressed (the key itself reaches no buffer); for the presenter,
// which may take it as a full-screen toggle.
bool key_alt_enter_take();

// --- Entries for the window layer (window thread), in our own codes ---------------------------

// Mouse buttons: bit n of MouseMessage::buttons is button n.
constexpr int MOUSE_BUTTON_LEFT = 0;
constexpr int MOUSE_BUTTON_MIDDLE = 1;
constexpr int MOUSE_BUTTON_RIGHT = 2;
constexpr int MOUSE_BUTTON_WHEEL_UP = 3;
constexpr int MOUSE_BUTTON_WHEEL_DOWN = 4;

// A button went down or up at (x, y) in window coordinates; buttons outside 0-31 are ignored.
void mouse_button(int button, bool down, int x, int y);
// The pointer moved, with or without buttons held.
void mouse_motion(int x, int y);
// One wheel step: the wheel button goes down and up at once.
void mouse_wheel(bool up, int x, int y);

// Run-time events that the stock window library does not deliver:
//   kind 1: the close box was clicked (a = b = 0): sets bit 0 of exit_request_flags;
//   kind 2: Pause (a = 100019) or Ctrl+Break (a = 100318) went down (b > 0) or up (b <= 0);
//   kind 3: a raw mouse packet moved by (a, b).
// Returns 0, or -1 (and changes nothing) for any other kind or key.
int32_t window_event_hook(int32_t kind, int32_t a, int32_t b);

// --- Mouse-message queue -----------------------------------------------------------------------

constexpr uint32_t MOUSE_QUEUE_ENTRIES = 65536;

// Button bit n is MOUSE_BUTTON n: 0 left, 1 middle, 2 right, 3 wheel up, 4 wheel down.
struct MouseMessage {
    int16_t x = 0;
    int16_t y = 0;
    uint32_t buttons = 0;
    int16_t move_x = 0;
    int16_t move_y = 0;
};

// Takes the oldest message; false when the queue is empty.
bool mouse_message_next(MouseMessage& message);

// --- Waking the key waits ----------------------------------------------------------------------

// Counts key presses and wake-up calls. A waiter reads it, tests its own condition, and then
// sleeps in key_event_wait until it moves, so that a press between the test and the sleep is not
// missed.
uint32_t key_event_sequence_now();
// Sleeps until the sequence differs from `seen` or `timeout_ms` has passed; true if it moved.
// Never longer than WAIT_RECHECK_MS (run_state.h), so that a waiter whose wake-up went missing
// still looks at its run-state words again.
bool key_event_wait(uint32_t seen, uint32_t timeout_ms);
// Wakes every key wait at once. The exit sequence calls it after setting stop_requested.
void keys_wake_waiters();
