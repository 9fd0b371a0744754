// A full audit of the engine's lists against the rules the fast paths rely on. Slow on purpose;
// the tests and the stress build call it after every statement.
#include <unordered_set>

#include "runtime/strings/detail.h"

namespace {

// Checks one data list: slots point back, entries ascend by address without overlap, data stays
// inside [start, start + limit), and `used` covers the last string.
const char* check_list(BasicString* const* list, int32_t count, int32_t capacity,
                       const uint8_t* start, uint64_t limit, uint64_t used, bool segment,
                       std::unordered_set<const BasicString*>& owners) {
    if (count < 0 || count > capacity + 1) return "list count outside its capacity";
    const uint8_t* previous_end = start;
    for (int32_t i = 0; i < count; ++i) {
        const BasicString* s = list[i];
        if (s == STR_EMPTY_MARK) continue;
        if (s == nullptr) return "null entry in a data list";
        if (s->list_slot != i) return "list_slot does not point back at its entry";
        if ((s->in_segment != 0) != segment) return "string listed in the wrong area";
        if (s->is_fixed || s->is_read_only) return "foreign storage listed as owned data";
        if (s->length < 0) return "negative length";
        if (s->chars < start || uint64_t(s->chars - start) + uint64_t(s->length) > limit)
            return "string data outside its area";
        if (s->chars < previous_end) return "list order is not address order";
        previous_end = s->chars + s->length;
        if (!owners.insert(s).second) return "descriptor listed twice";
        if (s->segment_entry) {
            const uint8_t* e = s->segment_entry;
            uint32_t length = uint32_t(e[0] | e[1] << 8);
            uint32_t offset = uint32_t(e[2] | e[3] << 8);
            if (length != (uint32_t(s->length) & 0xFFFF)) return "segment entry length stale";
            if (offset != uint32_t(s->chars - str_segment_start()))
                return "segment entry offset stale";
        }
    }
    if (uint64_t(previous_end - start) > used) return "used count below the last string's end";
    return nullptr;
}

} // namespace

const char* str_check_invariants() {
    const StrEngine& e = str_engine;
    std::unordered_set<const BasicString*> owners;
    if (e.heap_used > e.heap_size) return "heap_used beyond heap_size";
    if (e.heap_list_first_live < 0 || e.heap_list_first_live > e.heap_list_count)
        return "first live index of the heap list outside the list";
    for (int32_t i = 0; i < e.heap_list_first_live; ++i)
        if (e.heap_list[i] != STR_EMPTY_MARK) return "live heap entry below the first live index";
    if (const char* broken = check_list(e.heap_list, e.heap_list_count, e.heap_list_capacity,
                                        e.string_heap, e.heap_size, e.heap_used, false, owners))
        return broken;
    if (e.segment_used > e.segment_top) return "segment strings run into the descriptors";
    if (const char* broken =
            check_list(e.segment_list, e.segment_list_count, e.segment_list_capacity,
                       str_segment_start(), e.segment_top, e.segment_used, true, owners))
        return broken;

    if (e.temp_count < 1) return "temp_count below 1";
    if (e.temp_list[0] != nullptr) return "temporary slot 0 is used";
    if (e.temp_count > 1 && e.temp_list[e.temp_count - 1] == STR_EMPTY_MARK)
        return "trailing empty mark left on the temporary list";
    std::unordered_set<const BasicString*> temporaries;
    for (int32_t i = 1; i < e.temp_count; ++i) {
        const BasicString* s = e.temp_list[i];
        if (s == STR_EMPTY_MARK) continue;
        if (s == nullptr) return "null entry on the temporary list";
        if (!s->is_temporary || s->temp_slot != i) return "temp_slot does not point back";
        if (!temporaries.insert(s).second) return "temporary listed twice";
        bool foreign = s->is_fixed || s->is_read_only;
        if (!foreign && !owners.count(s)) return "temporary with owned data missing from its list";
    }

    std::unordered_set<const BasicString*> released;
    for (int32_t i = 0; i < e.free_count; ++i) {
        const BasicString* s = e.free_descriptors[i];
        if (!released.insert(s).second) return "descriptor released twice";
        if (owners.count(s) || temporaries.count(s)) return "released descriptor still in use";
    }
    return "";
}
