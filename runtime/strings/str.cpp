// Descriptors, string storage and the per-statement temporaries.
//
// Ownership is expressed only by being on the temporary list or not; there are no reference
// counts. Heap data is bump-allocated and given back at once when the newest strings die;
// anything freed in the middle is reclaimed by compaction, which runs only when the heap is full.
#include "runtime/strings/str.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "runtime/base/error.h"
#include "runtime/memory/conv.h"
#include "runtime/strings/detail.h"
#include "runtime/strings/str_hooks.h"

StrEngine str_engine;
StrFileHooks str_file_hooks;
BasicString* str_shared_empty = nullptr;
BasicString* str_one_space = nullptr;

namespace {

StrEngine& engine = str_engine;

template <typename T> T* grow_array(T* array, int64_t entries, ErrorCode critical_code) {
    if (entries <= 0 || entries > INT32_MAX) error_critical(critical_code);
    void* grown = std::realloc(array, size_t(entries) * sizeof(T));
    if (!grown) error_critical(critical_code);
    return static_cast<T*>(grown);
}

void list_append(BasicString**& list, int32_t& count, int32_t capacity, BasicString* s,
                 void (*pack)()) {
    if (count > capacity) pack();
    s->list_slot = count;
    list[count++] = s;
}

// Copies the live entries down over the empty marks, keeping their order; doubles the array
// when it is still at least half full afterwards. Entries below `first` are known to be marks.
void list_pack(BasicString**& list, int32_t& count, int32_t& capacity, int32_t first,
               ErrorCode critical_code) {
    int32_t live = 0;
    for (int32_t i = first; i < count; ++i) {
        BasicString* s = list[i];
        if (s == STR_EMPTY_MARK) continue;
        s->list_slot = live;
        list[live++] = s;
    }
    count = live;
    // Exactly below half: 32 767 live entries of 65 535 are, and need no doubling.
    if (int64_t(count) * 2 < capacity) return;
    int64_t doubled = int64_t(capacity) * 2;
    if (doubled > INT32_MAX - 1) error_critical(critical_code);
    list = grow_array(list, doubled + 1, critical_code);
    capacity = int32_t(doubled);
}

void segment_entry_make(BasicString* s, ErrorCode critical_code) {
    engine.segment_top -= 4;
    if (engine.segment_top < engine.segment_used) error_critical(critical_code);
    s->segment_entry = str_segment_start() + engine.segment_top;
    s->segment_entry_offset = int32_t(engine.segment_top);
    str_write_segment_entry(s);
}

void scratch_new_area(int64_t size) {
    if (size <= 0 || size > INT32_MAX) error_critical(ERROR_CRITICAL_STRING_SCRATCH);
    auto* area = static_cast<uint8_t*>(std::malloc(size_t(size)));
    if (!area) error_critical(ERROR_CRITICAL_STRING_SCRATCH);
    if (!engine.scratch_areas.push_back(area)) error_critical(ERROR_CRITICAL_STRING_SCRATCH);
    engine.scratch_size = int32_t(size);
    engine.scratch_begin = area;
    engine.scratch_next = area;
    engine.scratch_end = area + size;
}

void engine_release() {
    for (BasicString* block : engine.descriptor_blocks) delete[] block;
    for (uint8_t* area : engine.scratch_areas) std::free(area);
    std::free(engine.free_descriptors);
    std::free(engine.string_heap);
    std::free(engine.heap_list);
    std::free(engine.segment_list);
    std::free(engine.temp_list);
    std::free(engine.descriptor_blocks.items);
    std::free(engine.scratch_areas.items);
    engine = StrEngine{};
}

} // namespace

BasicString* str_descriptor_from_block() {
    if (engine.descriptor_blocks.empty() ||
        engine.descriptors_used == engine.limits.descriptor_block) {
        // Old blocks stay allocated: their descriptors are still in use by live strings.
        auto* block = new (std::nothrow) BasicString[size_t(engine.limits.descriptor_block)]();
        if (!block) error_critical(ERROR_CRITICAL_BLOCK_SIZE);
        if (!engine.descriptor_blocks.push_back(block)) error_critical(ERROR_CRITICAL_BLOCK_SIZE);
        engine.descriptors_used = 0;
    }
    return &engine.descriptor_blocks.back()[engine.descriptors_used++];
}

uint8_t* str_segment_start() {
    return conv_memory + DATA_SEGMENT_BASE;
}

void str_write_segment_entry(BasicString* s) {
    // The record is what a program reading the segment sees: 16-bit length, then 16-bit offset.
    uint8_t* entry = s->segment_entry;
    uint32_t offset = uint32_t(s->chars - str_segment_start());
    entry[0] = uint8_t(s->length);
    entry[1] = uint8_t(uint32_t(s->length) >> 8);
    entry[2] = uint8_t(offset);
    entry[3] = uint8_t(offset >> 8);
}

void str_engine_reset(const StrLimits& limits) {
    engine_release();
    // The permanent strings lived in the released segment; str_constants_create makes new ones.
    str_shared_empty = nullptr;
    str_one_space = nullptr;
    if (!conv_memory) conv_memory_init();
    engine.limits = limits;

    engine.free_capacity = limits.free_stack_capacity;
    engine.free_descriptors =
        grow_array<BasicString*>(nullptr, limits.free_stack_capacity, ERROR_CRITICAL_FREE_STACK);
    engine.heap_size = limits.heap_size;
    engine.string_heap = grow_array<uint8_t>(nullptr, limits.heap_size, ERROR_CRITICAL_HEAP);
    engine.heap_list_capacity = limits.heap_list_capacity;
    engine.heap_list = grow_array<BasicString*>(nullptr, int64_t(limits.heap_list_capacity) + 1,
                                                ERROR_CRITICAL_HEAP_LIST);
    engine.segment_list_capacity = limits.segment_list_capacity;
    engine.segment_list = grow_array<BasicString*>(
        nullptr, int64_t(limits.segment_list_capacity) + 1, ERROR_CRITICAL_SEGMENT_LIST);
    engine.temp_capacity = limits.temp_capacity;
    engine.temp_list = static_cast<BasicString**>(
        std::calloc(size_t(limits.temp_capacity) + 1, sizeof(BasicString*)));
    if (!engine.temp_list) error_critical(ERROR_CRITICAL_TEMP_LIST);
    engine.temp_count = 1;

    std::memset(str_segment_start(), 0, DATA_SEGMENT_SIZE);
    engine.segment_used = SEGMENT_DATA_START;
    engine.segment_top = DATA_SEGMENT_SIZE;

    scratch_new_area(limits.scratch_size);
}

void str_engine_reset() {
    str_engine_reset(StrLimits{});
}

void str_free_stack_grow() {
    int64_t doubled = int64_t(engine.free_capacity) * 2;
    engine.free_descriptors =
        grow_array(engine.free_descriptors, doubled, ERROR_CRITICAL_FREE_STACK);
    engine.free_capacity = int32_t(doubled);
}

void str_temp_list_grow() {
    // The list is never packed: slots below a statement's mark belong to enclosing statements
    // and must keep their indices.
    int64_t doubled = int64_t(engine.temp_capacity) * 2;
    if (doubled > INT32_MAX - 1) error_critical(ERROR_CRITICAL_STACK_SPACE);
    engine.temp_list = grow_array(engine.temp_list, doubled + 1, ERROR_CRITICAL_TEMP_LIST);
    engine.temp_capacity = int32_t(doubled);
}

void str_heap_list_pack() {
    list_pack(engine.heap_list, engine.heap_list_count, engine.heap_list_capacity,
              engine.heap_list_first_live, ERROR_CRITICAL_HEAP_LIST);
    engine.heap_list_first_live = 0;
}

void str_segment_list_pack() {
    list_pack(engine.segment_list, engine.segment_list_count, engine.segment_list_capacity, 0,
              ERROR_CRITICAL_SEGMENT_LIST);
}

// Packs the heap, leaving gaps of up to 32 bytes where they are (moving a string costs more than
// the slack it would win), then grows the area geometrically once the packed data fills about
// half of it.
void str_heap_compact(uint32_t need) {
    if (engine.heap_list_count != 0) {
        uint8_t* heap = engine.string_heap;
        uint8_t* p = heap;
        engine.heap_used = 0;
        int32_t first_live = engine.heap_list_count;
        for (int32_t i = engine.heap_list_first_live; i < engine.heap_list_count; ++i) {
            BasicString* s = engine.heap_list[i];
            if (s == STR_EMPTY_MARK) continue;
            if (first_live > i) first_live = i;
            if (s->chars - p > int32_t(HEAP_SLACK)) {
                if (s->length != 0) std::memmove(p, s->chars, size_t(s->length));
                s->chars = p;
            }
            p = s->chars + s->length;
            engine.heap_used = uint32_t(p - heap);
        }
        engine.heap_list_first_live = first_live;
    }
    if (uint64_t(need) + 2 * uint64_t(engine.heap_used) + HEAP_SLACK < engine.heap_size) return;

    uint64_t grown_size = uint64_t(need) + 2 * uint64_t(engine.heap_size);
    if (grown_size > uint64_t(INT32_MAX)) error_critical(ERROR_CRITICAL_HEAP);
    auto old_base = reinterpret_cast<uintptr_t>(engine.string_heap);
    auto* grown = static_cast<uint8_t*>(std::realloc(engine.string_heap, size_t(grown_size)));
    if (!grown) error_critical(ERROR_CRITICAL_HEAP);
    engine.string_heap = grown;
    engine.heap_size = uint32_t(grown_size);
    for (int32_t i = engine.heap_list_first_live; i < engine.heap_list_count; ++i) {
        BasicString* s = engine.heap_list[i];
        if (s == STR_EMPTY_MARK) continue;
        s->chars = grown + (reinterpret_cast<uintptr_t>(s->chars) - old_base);
    }
}

// The segment cannot grow: pack everything down to the start of the string area and fail
// critically if the request still does not fit.
void str_segment_compact(uint32_t need) {
    uint8_t* p = str_segment_start() + SEGMENT_DATA_START;
    engine.segment_used = SEGMENT_DATA_START;
    for (int32_t i = 0; i < engine.segment_list_count; ++i) {
        BasicString* s = engine.segment_list[i];
        if (s == STR_EMPTY_MARK) continue;
        if (s->chars != p) {
            if (s->length != 0) std::memmove(p, s->chars, size_t(s->length));
            s->chars = p;
        }
        if (s->segment_entry) str_write_segment_entry(s);
        p += s->length;
        engine.segment_used += uint32_t(s->length);
    }
    if (uint64_t(engine.segment_used) + need > engine.segment_top)
        error_critical(ERROR_CRITICAL_SEGMENT_FULL);
}

BasicString* str_new(int32_t length, bool temporary) {
    return str_heap_new(length, temporary);
}

BasicString* str_new_literal(const char* text, int32_t length) {
    BasicString* s = str_descriptor_take();
    // Literals are never written: is_read_only keeps every operation away from these bytes.
    s->chars = reinterpret_cast<uint8_t*>(const_cast<char*>(text));
    s->length = length < 0 ? 0 : length;
    str_set_foreign_flags(s, 0, 1);
    str_temp_append(s);
    return s;
}

BasicString* str_new_cstring(const char* text) {
    return str_new_literal(text, text ? int32_t(std::strlen(text)) : 0);
}

BasicString* str_new_segment(int32_t length, bool temporary) {
    if (length < 0) length = 0;
    if (uint64_t(engine.segment_used) + uint32_t(length) > engine.segment_top)
        str_segment_compact(uint32_t(length));
    BasicString* s = str_descriptor_take();
    s->length = length;
    if (uint64_t(engine.segment_used) + uint32_t(length) > engine.segment_top)
        str_segment_compact(uint32_t(length));
    s->chars = str_segment_start() + engine.segment_used;
    engine.segment_used += uint32_t(length);
    s->in_segment = 1;
    list_append(engine.segment_list, engine.segment_list_count, engine.segment_list_capacity, s,
                str_segment_list_pack);
    if (temporary)
        str_temp_append(s);
    else
        segment_entry_make(s, ERROR_CRITICAL_SEGMENT_ENTRY);
    return s;
}

BasicString* str_new_fixed(uint8_t* address, int32_t length, bool temporary) {
    BasicString* s = str_descriptor_take();
    s->chars = address;
    s->length = length < 0 ? 0 : length;
    str_set_foreign_flags(s, 1, 0);
    if (temporary) {
        str_temp_append(s);
    } else {
        uint8_t* segment = str_segment_start();
        if (address > segment && address < segment + DATA_SEGMENT_SIZE)
            segment_entry_make(s, ERROR_CRITICAL_FIXED_SEGMENT_ENTRY);
    }
    return s;
}

BasicString* str_make_temporary(BasicString* s) {
    str_temp_append(s);
    return s;
}

void str_field_release(BasicString* s) {
    // A string bound to a file record field is detached before its descriptor can be reused.
    if (str_file_hooks.field_release != nullptr) str_file_hooks.field_release(s);
}

void str_free(BasicString* s) {
    str_release(s);
}

void str_heap_data_free(BasicString* s) {
    BasicString** list = engine.heap_list;
    list[s->list_slot] = STR_EMPTY_MARK;
    // Trim the trailing empty marks; once the trim reaches the first live index, everything
    // below is marks as well and goes too.
    int32_t count = engine.heap_list_count;
    while (count > engine.heap_list_first_live && list[count - 1] == STR_EMPTY_MARK) --count;
    if (count == engine.heap_list_first_live) count = engine.heap_list_first_live = 0;
    engine.heap_list_count = count;
    if (count != 0) {
        // The newest live string keeps its slack so that it can still grow in place.
        BasicString* last = engine.heap_list[engine.heap_list_count - 1];
        uint64_t end = uint64_t(last->chars + last->length - engine.string_heap) + HEAP_SLACK;
        engine.heap_used = uint32_t(end < engine.heap_size ? end : engine.heap_size);
    } else {
        engine.heap_used = 0;
    }
    str_descriptor_release(s);
}

int32_t str_temp_mark() {
    return engine.temp_count;
}

// Out of line, so that the common call, with nothing left to free, saves no registers.
[[gnu::noinline]] static void cleanup_down_to(int32_t mark) {
    // Slot 0 is never a string; a mark below 1 would walk onto it.
    if (mark < 1) mark = 1;
    while (engine.temp_count > mark) {
        --engine.temp_count;
        BasicString* s = engine.temp_list[engine.temp_count];
        if (s != STR_EMPTY_MARK) str_release(s);
    }
}

int32_t str_cleanup(int32_t mark, int32_t value) {
    // Most statements consume their temporaries themselves and leave nothing to free.
    if (engine.temp_count > mark) cleanup_down_to(mark);
    return value;
}

void* scratch_alloc(int32_t size) {
    if (size < 0) size = 0;
    uint8_t* old = engine.scratch_next;
    if (size < engine.scratch_end - old) {
        engine.scratch_next = old + size;
        return old;
    }
    // The previous area is not freed: earlier procedures may still hold memory in it.
    scratch_new_area(int64_t(size) + 2 * int64_t(engine.scratch_size));
    engine.scratch_next = engine.scratch_begin + size;
    return engine.scratch_begin;
}

void scratch_reset(void* position) {
    auto* p = static_cast<uint8_t*>(position);
    auto at = reinterpret_cast<uintptr_t>(p);
    if (at >= reinterpret_cast<uintptr_t>(engine.scratch_begin) &&
        at <= reinterpret_cast<uintptr_t>(engine.scratch_end))
        engine.scratch_next = p;
    else
        engine.scratch_next = engine.scratch_begin;
}

void str_constants_create() {
    str_shared_empty = str_new_segment(0, false);
    str_one_space = str_new_segment(1, false);
    str_one_space->chars[0] = ' ';
}
