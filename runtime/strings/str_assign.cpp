// Assignment, concatenation, leftmost characters and comparison: the operations every
// translated statement leans on, so each avoids copying where the memory rule allows it.
#include <cstring>

#include "runtime/base/error.h"
#include "runtime/strings/detail.h"
#include "runtime/strings/str.h"

namespace {

StrEngine& engine = str_engine;

// One of the two data areas a growable string can live in.
struct Area {
    BasicString**& list;
    int32_t& count;
    int32_t capacity;
    uint32_t& used;
    uint8_t* start;
    uint32_t limit; // heap_size, or segment_top for the segment
    void (*pack)();
    void (*compact)(uint32_t need);
};

Area area_of(const BasicString* s) {
    if (s->in_segment)
        return {engine.segment_list,   engine.segment_list_count, engine.segment_list_capacity,
                engine.segment_used,   str_segment_start(),       engine.segment_top,
                str_segment_list_pack, str_segment_compact};
    return {engine.heap_list,   engine.heap_list_count, engine.heap_list_capacity,
            engine.heap_used,   engine.string_heap,     engine.heap_size,
            str_heap_list_pack, str_heap_compact};
}

void copy_into(BasicString* target, const BasicString* source) {
    if (source->length != 0 && target->chars != source->chars)
        str_move_bytes(target->chars, source->chars, size_t(source->length));
    target->length = source->length;
}

// The target gives up its place and takes a fresh one at the end of its area.
void relocate(BasicString* target, BasicString* source) {
    uint32_t need = uint32_t(source->length);
    {
        Area before = area_of(target);
        before.list[target->list_slot] = STR_EMPTY_MARK;
        if (uint64_t(before.used) + need > before.limit) before.compact(need);
    }
    Area area = area_of(target); // compaction may have moved or grown the heap
    if (area.count > area.capacity) area.pack();
    target->list_slot = area.count;
    area.list[area.count++] = target;
    target->chars = area.start + area.used;
    area.used += need;
    copy_into(target, source); // source->chars is re-read: compaction may have moved it
}

// Grows a heap or segment target in place when the bytes up to the next live string allow it.
void assign_longer(BasicString* target, BasicString* source) {
    Area area = area_of(target);
    uint64_t new_end = uint64_t(target->chars - area.start) + uint32_t(source->length);
    if (target->list_slot == area.count - 1) {
        if (new_end > area.limit) return relocate(target, source);
        copy_into(target, source);
        area.used = uint32_t(new_end);
        return;
    }
    for (int32_t i = target->list_slot + 1; i < area.count; ++i) {
        BasicString* next = area.list[i];
        if (next == STR_EMPTY_MARK || (next == source && source->is_temporary)) continue;
        if (new_end > uint64_t(next->chars - area.start)) return relocate(target, source);
        copy_into(target, source);
        return;
    }
    // Nothing live follows but empty marks or the temporary source, which dies with this
    // assignment: the target becomes the last string and may take the space up to the limit.
    area.count = target->list_slot + 1;
    if (new_end > area.limit) return relocate(target, source);
    copy_into(target, source);
    area.used = uint32_t(new_end);
}

bool same_storage(const BasicString* a, const BasicString* b) {
    return (a->in_segment != 0) == (b->in_segment != 0);
}

int compare(const BasicString* left, const BasicString* right) {
    int32_t shorter = left->length < right->length ? left->length : right->length;
    int order = shorter ? std::memcmp(left->chars, right->chars, size_t(shorter)) : 0;
    if (order != 0) return order;
    return left->length < right->length ? -1 : left->length > right->length ? 1 : 0;
}

int32_t truth(bool value) {
    return value ? -1 : 0;
}

} // namespace

BasicString* str_set(BasicString* target, BasicString* source) {
    if (target->is_fixed) {
        int32_t n = source->length < target->length ? source->length : target->length;
        if (n != 0 && target->chars != source->chars)
            str_move_bytes(target->chars, source->chars, size_t(n));
        std::memset(target->chars + n, ' ', size_t(target->length - n));
    } else if (source->is_temporary && !source->is_fixed && !source->is_read_only &&
               same_storage(target, source)) {
        // Take-over: the target adopts the temporary's data and list entry; no byte moves.
        BasicString** list = target->in_segment ? engine.segment_list : engine.heap_list;
        list[target->list_slot] = STR_EMPTY_MARK;
        list[source->list_slot] = target;
        target->list_slot = source->list_slot;
        // Trims every trailing empty mark, not just this one, so that the last used slot of the
        // temporary list is always a live string.
        str_temp_remove(source);
        target->chars = source->chars;
        target->length = source->length;
        str_descriptor_release(source);
        if (target->segment_entry) str_write_segment_entry(target);
        return target;
    } else if (source->length <= target->length) {
        copy_into(target, source);
    } else {
        assign_longer(target, source);
    }
    if (source->is_temporary) str_release(source);
    if (target->segment_entry) str_write_segment_entry(target);
    return target;
}

BasicString* str_add(BasicString* left, BasicString* right) {
    if (right->length == 0) return left;
    if (left->length == 0) return right;
    int64_t total = int64_t(left->length) + right->length;
    if (total > INT32_MAX) {
        // Lengths are 32-bit: a longer result cannot be represented, so refuse it rather than
        // wrap around.
        error_raise(ERROR_OUT_OF_STRING_SPACE);
        total = 0;
    }
    BasicString* result = str_heap_new(int32_t(total), true);
    if (total != 0) {
        str_move_bytes(result->chars, left->chars, size_t(left->length));
        str_move_bytes(result->chars + left->length, right->chars, size_t(right->length));
    }
    if (left->is_temporary) str_release(left);
    if (right->is_temporary && right != left) str_release(right);
    return result;
}

BasicString* str_left(BasicString* s, int32_t n) {
    if (n > s->length) n = s->length;
    if (n < 0) n = 0;
    if (n == s->length) return s;
    if (str_is_plain_temporary(s)) {
        s->length = n;
        return s;
    }
    BasicString* result = str_heap_new(n, true);
    str_move_bytes(result->chars, s->chars, size_t(n));
    if (s->is_temporary) str_release(s);
    return result;
}

int32_t str_equal(BasicString* left, BasicString* right) {
    return truth(left->length == right->length && compare(left, right) == 0);
}
int32_t str_not_equal(BasicString* left, BasicString* right) {
    return truth(!str_equal(left, right));
}
int32_t str_less(BasicString* left, BasicString* right) {
    return truth(compare(left, right) < 0);
}
int32_t str_greater(BasicString* left, BasicString* right) {
    return truth(compare(left, right) > 0);
}
int32_t str_less_equal(BasicString* left, BasicString* right) {
    return truth(compare(left, right) <= 0);
}
int32_t str_greater_equal(BasicString* left, BasicString* right) {
    return truth(compare(left, right) >= 0);
}
