#pragma once
// The engine's internal state, for the engine's own files and for tests. Not for callers.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "runtime/strings/str.h"

// Capacities the engine starts with. The stress build shrinks them so that every growth,
// packing and compaction path runs all the time.
struct StrLimits {
#if UNVEILO_STRESS
    int32_t descriptor_block = 8;
    int32_t free_stack_capacity = 4;
    uint32_t heap_size = 96;
    int32_t heap_list_capacity = 3;
    int32_t segment_list_capacity = 3;
    int32_t temp_capacity = 3;
    int32_t scratch_size = 64;
#else
    int32_t descriptor_block = 65536;
    int32_t free_stack_capacity = 65536;
    uint32_t heap_size = 1048576;
    int32_t heap_list_capacity = 65535;
    int32_t segment_list_capacity = 65535;
    int32_t temp_capacity = 65535;
    int32_t scratch_size = 1048576;
#endif
};

constexpr uint32_t HEAP_SLACK = 32;
constexpr uint32_t SEGMENT_DATA_START = 256;
constexpr uint32_t SEGMENT_RESERVED_TOP = 8; // zeroed bytes at the top of the data segment

// Marks a freed entry of the heap, segment and temporary lists.
inline BasicString* const STR_EMPTY_MARK = reinterpret_cast<BasicString*>(intptr_t(-1));

// The engine is never destroyed (nothing is freed at exit), so it holds its block lists in a
// list without a destructor: a std::vector would give its array back when static objects are
// destroyed and leave the blocks it lists unreachable.
template <typename T> struct PointerList {
    T** items = nullptr;
    int32_t count = 0;
    int32_t capacity = 0;

    bool empty() const { return count == 0; }
    size_t size() const { return size_t(count); }
    T* back() const { return items[count - 1]; }
    T** begin() const { return items; }
    T** end() const { return items + count; }
    // False when the list cannot grow.
    bool push_back(T* item) {
        if (count == capacity) {
            int32_t grown = capacity ? capacity * 2 : 8;
            void* bigger = std::realloc(items, size_t(grown) * sizeof(T*));
            if (!bigger) return false;
            items = static_cast<T**>(bigger);
            capacity = grown;
        }
        items[count++] = item;
        return true;
    }
};

struct StrEngine {
    StrLimits limits;

    PointerList<BasicString> descriptor_blocks; // every block ever allocated, newest last
    int32_t descriptors_used = 0;               // handed out from the newest block

    BasicString** free_descriptors = nullptr;
    int32_t free_count = 0;
    int32_t free_capacity = 0;

    uint8_t* string_heap = nullptr;
    uint32_t heap_size = 0;
    uint32_t heap_used = 0;
    BasicString** heap_list = nullptr; // capacity + 1 entries
    int32_t heap_list_capacity = 0;
    int32_t heap_list_count = 0;

    BasicString** segment_list = nullptr;
    int32_t segment_list_capacity = 0;
    int32_t segment_list_count = 0;
    uint32_t segment_used = SEGMENT_DATA_START;
    uint32_t segment_top = 65536;

    BasicString** temp_list = nullptr; // capacity + 1 entries; slot 0 holds nullptr
    int32_t temp_capacity = 0;
    int32_t temp_count = 1;

    uint8_t* scratch_begin = nullptr;
    uint8_t* scratch_next = nullptr;
    uint8_t* scratch_end = nullptr;
    int32_t scratch_size = 0;
    PointerList<uint8_t> scratch_areas; // kept only so that a reset can give them back
};

static_assert(std::is_trivially_destructible_v<StrEngine>);
extern StrEngine str_engine;

// Resets the engine with the given capacities (tests use tiny ones).
void str_engine_reset(const StrLimits& limits);

// Start of the emulated data segment inside the emulated memory.
uint8_t* str_segment_start();

// Checks every invariant of the engine; returns an empty text when all hold, else the first
// broken one. Costs a walk over all lists: for tests and the stress build only.
const char* str_check_invariants();

// Shared steps of the engine used by the operations' files.
void str_temp_list_grow();
void str_free_stack_grow();
void str_heap_compact(uint32_t need);
void str_segment_compact(uint32_t need);
void str_heap_list_pack();
void str_segment_list_pack();
void str_write_segment_entry(BasicString* s);

// memmove for string data. Most strings a program handles are a few bytes long, where a call into
// the C library costs more than the copy: up to 16 bytes are moved with two overlapping loads
// and stores, all loads first, so overlapping ranges are safe too.
inline void str_move_bytes(uint8_t* to, const uint8_t* from, size_t n) {
    if (n > 16) {
        std::memmove(to, from, n);
    } else if (n >= 8) {
        uint64_t head, tail;
        std::memcpy(&head, from, 8);
        std::memcpy(&tail, from + n - 8, 8);
        std::memcpy(to, &head, 8);
        std::memcpy(to + n - 8, &tail, 8);
    } else if (n >= 4) {
        uint32_t head, tail;
        std::memcpy(&head, from, 4);
        std::memcpy(&tail, from + n - 4, 4);
        std::memcpy(to, &head, 4);
        std::memcpy(to + n - 4, &tail, 4);
    } else if (n > 0) {
        uint8_t first = from[0], middle = from[n / 2], last = from[n - 1];
        to[0] = first;
        to[n / 2] = middle;
        to[n - 1] = last;
    }
}

// The two steps every statement runs several times; inline so that the common case is a bounds
// test and a store.
inline void str_temp_append(BasicString* s) {
    if (str_engine.temp_count > str_engine.temp_capacity) str_temp_list_grow();
    s->temp_slot = str_engine.temp_count;
    str_engine.temp_list[str_engine.temp_count++] = s;
    s->is_temporary = 1;
}

inline void str_descriptor_release(BasicString* s) {
    if (str_engine.free_count == str_engine.free_capacity) str_free_stack_grow();
    str_engine.free_descriptors[str_engine.free_count++] = s;
}
