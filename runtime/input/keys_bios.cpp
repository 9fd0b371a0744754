// The emulated BIOS keyboard buffer (15 pairs in a ring of 16 slots at 0x41E; a full buffer drops
// the key) and the keyboard flag bytes 0x417, 0x418 and 0x496, kept in step with the held set.
#include "runtime/input/key_layer.h"
#include "runtime/memory/conv.h"

namespace {

// The BIOS keeps its buffer as offsets from segment 0x40.
constexpr uint32_t BIOS_DATA_BASE = 0x400;
constexpr uint8_t BIOS_BUFFER_FIRST = uint8_t(BIOS_KEYBOARD_BUFFER - BIOS_DATA_BASE);   // 0x1E
constexpr uint8_t BIOS_BUFFER_END = uint8_t(BIOS_KEYBOARD_BUFFER_END - BIOS_DATA_BASE); // 0x3E

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

} // namespace

namespace key_layer_internal {

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

} // namespace key_layer_internal

using namespace key_layer_internal;

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
