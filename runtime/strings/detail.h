#pragma once
// The engine's internal state, for the engine's own files and for tests. Not for callers.
#include <cstddef>
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
    // Every entry below this index is an empty mark, so compaction and packing start their walks
    // here. Assignments leave the old entries of their targets behind as marks, and a list of
    // 65 535 entries may hold only a handful of live strings, all near its end; walking the
    // marks before them cost more than all the rest of the engine's work. Never above the count.
    int32_t heap_list_first_live = 0;

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
void str_field_release(BasicString* s); // detaches a string bound to a file record field

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

// --- The steps every statement runs several times ---------------------------------------------
// Inline so that an operation's common case is a few tests and stores; the rare cases (a new
// descriptor block, growing or packing a list, compaction) stay out of line.

BasicString* str_descriptor_from_block(); // when no released descriptor is left

// Sets is_fixed and is_read_only with one 16-bit store. The operations test the two flags
// together, which compilers do with one 16-bit load; after a lone byte store to one of them that
// load cannot take its bytes from the store buffer and waits until the store reaches the cache
// (a store-forwarding stall that cost a third of a statement assigning a literal).
inline void str_set_foreign_flags(BasicString* s, uint8_t fixed, uint8_t read_only) {
    static_assert(offsetof(BasicString, is_read_only) == offsetof(BasicString, is_fixed) + 1);
    const uint8_t flags[2] = {fixed, read_only};
    std::memcpy(reinterpret_cast<uint8_t*>(s) + offsetof(BasicString, is_fixed), flags, 2);
}

// Released descriptors are reused last-in first-out, zero-filled.
inline BasicString* str_descriptor_take() {
    if (str_engine.free_count == 0) [[unlikely]]
        return str_descriptor_from_block();
    BasicString* s = str_engine.free_descriptors[--str_engine.free_count];
    *s = BasicString{};
    return s;
}

inline void str_descriptor_release(BasicString* s) {
    if (str_engine.free_count == str_engine.free_capacity) [[unlikely]]
        str_free_stack_grow();
    str_engine.free_descriptors[str_engine.free_count++] = s;
}

inline void str_temp_append(BasicString* s) {
    if (str_engine.temp_count > str_engine.temp_capacity) [[unlikely]]
        str_temp_list_grow();
    s->temp_slot = str_engine.temp_count;
    str_engine.temp_list[str_engine.temp_count++] = s;
    s->is_temporary = 1;
}

// Marks the temporary's slot empty and trims every trailing empty mark; slot 0 holds nullptr,
// which ends the trim. The last used slot is never a mark, so only freeing that slot trims (or,
// inside the clean-up loop, which has already stepped the count down to it, the slot at the
// count), and the trim then starts below it without reading back the mark just stored: every
// statement runs this several times, and the counter's load and store form one chain through
// them all.
inline void str_temp_remove(BasicString* s) {
    BasicString** list = str_engine.temp_list;
    int32_t slot = s->temp_slot;
    list[slot] = STR_EMPTY_MARK;
    if (slot + 1 < str_engine.temp_count) return;
    while (list[slot - 1] == STR_EMPTY_MARK) --slot;
    str_engine.temp_count = slot;
}

// str_new: a bump allocation at heap_used with its slack, appended to the heap list.
inline BasicString* str_heap_new(int32_t length, bool temporary) {
    if (length < 0) length = 0;
    StrEngine& e = str_engine;
    uint32_t need = uint32_t(length) + HEAP_SLACK;
    if (uint64_t(e.heap_used) + need > e.heap_size) [[unlikely]]
        str_heap_compact(need);
    BasicString* s = str_descriptor_take();
    s->length = length;
    s->chars = e.string_heap + e.heap_used;
    e.heap_used += need;
    if (e.heap_list_count > e.heap_list_capacity) [[unlikely]]
        str_heap_list_pack();
    s->list_slot = e.heap_list_count;
    e.heap_list[e.heap_list_count++] = s;
    if (temporary) str_temp_append(s);
    return s;
}

void str_heap_data_free(BasicString* s); // the heap-list half of str_free

// str_free.
inline void str_release(BasicString* s) {
    if (s->field_link != nullptr) [[unlikely]]
        str_field_release(s);
    if (s->temp_slot != 0) str_temp_remove(s);
    if (s->is_fixed || s->is_read_only) {
        str_descriptor_release(s);
    } else if (s->in_segment) {
        StrEngine& e = str_engine;
        e.segment_list[s->list_slot] = STR_EMPTY_MARK;
        if (s->list_slot == e.segment_list_count - 1) --e.segment_list_count;
        str_descriptor_release(s);
    } else {
        str_heap_data_free(s);
    }
}
