#pragma once
// The emulated conventional memory of a real-mode PC: one byte array addressed as
// segment * 16 + offset, holding the BIOS data area, the default data segment and the text pages
// at their usual places so that the program can PEEK and POKE them.
//
// Bytes that more than one thread touches (BIOS data area, text video memory) are read and
// written through conv_load8 / conv_store8, which are relaxed atomic accesses; the data segment
// belongs to the program thread alone and may be addressed directly.
#include <atomic>
#include <cstddef>
#include <cstdint>

constexpr uint32_t CONV_MEMORY_SIZE = 1114099; // 0xFFFF:0xFFFF is 0x10FFEF, plus four spare bytes

// BIOS data area.
constexpr uint32_t BIOS_KEYBOARD_FLAGS_1 = 0x417;
constexpr uint32_t BIOS_KEYBOARD_FLAGS_2 = 0x418;
constexpr uint32_t BIOS_KEYBOARD_FLAGS_3 = 0x496;
constexpr uint32_t BIOS_KEYBOARD_HEAD = 0x41A;
constexpr uint32_t BIOS_KEYBOARD_TAIL = 0x41C;
constexpr uint32_t BIOS_KEYBOARD_BUFFER = 0x41E; // sixteen two-byte slots up to 0x43D
constexpr uint32_t BIOS_KEYBOARD_BUFFER_END = 0x43E;
constexpr uint32_t BIOS_TIMER_TICKS = 0x46C; // low three bytes of the tick count

// The default data segment: segment strings from offset 256 up, their descriptors down from
// the top.
constexpr uint32_t DATA_SEGMENT_BASE = 0x500;
constexpr uint32_t DATA_SEGMENT_SIZE = 0x10000;

// Memory blocks handed out by conv_block_alloc, from the top down.
constexpr uint32_t CONV_BLOCK_LOW = 0x10500;
constexpr uint32_t CONV_BLOCK_HIGH = 0xA0000;
constexpr uint32_t CONV_BLOCK_MAX_SIZE = 65536;
constexpr uint32_t CONV_BLOCK_RECORDS = 147136;

constexpr uint32_t GRAPHICS_VIDEO_BASE = 0xA0000;
constexpr uint32_t TEXT_VIDEO_BASE = 0xB8000;
constexpr uint32_t TEXT_PAGE_BYTES = 4096;
constexpr uint32_t TEXT_PAGES = 8;
static_assert(TEXT_VIDEO_BASE + TEXT_PAGES * TEXT_PAGE_BYTES == 0xC0000);
static_assert(DATA_SEGMENT_BASE + DATA_SEGMENT_SIZE == CONV_BLOCK_LOW);

// The array itself; null until conv_memory_init.
extern uint8_t* conv_memory;

// Allocates (once) and zero-fills the array and resets the segment and the block allocator.
void conv_memory_init();

inline uint8_t conv_load8(uint32_t linear) {
    return std::atomic_ref<uint8_t>(conv_memory[linear]).load(std::memory_order_relaxed);
}
inline void conv_store8(uint32_t linear, uint8_t value) {
    std::atomic_ref<uint8_t>(conv_memory[linear]).store(value, std::memory_order_relaxed);
}
inline uint16_t conv_load16(uint32_t linear) {
    return uint16_t(conv_load8(linear) | conv_load8(linear + 1) << 8);
}
inline void conv_store16(uint32_t linear, uint16_t value) {
    conv_store8(linear, uint8_t(value));
    conv_store8(linear + 1, uint8_t(value >> 8));
}

// PEEK/POKE and DEF SEG.
void def_segment(int32_t segment, int32_t given);
int32_t peek_byte(int32_t offset);
void poke_byte(int32_t offset, int32_t value);

// Blocks of conventional memory below 640 KB.
uint8_t* conv_block_alloc(uint32_t size);
void conv_block_free(uint8_t* pointer);
