#include <cstring>
#include <vector>

#include "strings/str_fixture.h"

namespace {

using str_cleanup_ = StrEngineTest;
using str_temporaries = StrEngineTest;
using str_new_ = StrEngineTest;
using str_free_ = StrEngineTest;
using str_heap_compaction = StrEngineTest;
using str_segment = StrEngineTest;
using str_descriptors = StrEngineTest;
using str_lists = StrEngineTest;
using scratch = StrEngineTest;

TEST_F(str_cleanup_, with_nothing_alive_returns_the_value_and_changes_nothing) {
    BasicString* keep = variable("kept");
    int32_t mark = str_temp_mark();
    uint32_t used = str_engine.heap_used;
    EXPECT_EQ(str_cleanup(mark, 1234), 1234);
    EXPECT_EQ(str_temp_mark(), mark);
    EXPECT_EQ(str_engine.heap_used, used);
    EXPECT_EQ(text(keep), "kept");
}

TEST_F(str_cleanup_, frees_only_what_was_created_after_the_mark) {
    BasicString* outer = temporary("outer");
    int32_t mark = str_temp_mark();
    temporary("one");
    literal("two");
    str_new(100, true);
    EXPECT_EQ(str_cleanup(mark, -1), -1);
    EXPECT_EQ(str_temp_mark(), mark);
    EXPECT_EQ(text(outer), "outer");
    EXPECT_EQ(str_engine.temp_list[outer->temp_slot], outer);
    // The outer temporary is now the newest heap string again: its slack is all that is used.
    EXPECT_EQ(str_engine.heap_used, heap_offset(outer) + 5 + HEAP_SLACK);
}

TEST_F(str_temporaries, count_returns_at_once_and_trailing_marks_go_together) {
    int32_t start = str_temp_mark();
    BasicString* a = temporary("a");
    str_free(a);
    EXPECT_EQ(str_temp_mark(), start);

    BasicString* b = temporary("b");
    BasicString* c = temporary("c");
    BasicString* d = literal("d");
    str_free(b); // not the last: only marked
    EXPECT_EQ(str_temp_mark(), start + 3);
    str_free(c); // still not the last
    EXPECT_EQ(str_temp_mark(), start + 3);
    str_free(d); // the last: it and both marks below it go at once
    EXPECT_EQ(str_temp_mark(), start);
}

TEST_F(str_cleanup_, a_free_inside_the_loop_trims_the_marks_below_the_mark_too) {
    int32_t start = str_temp_mark();
    temporary("kept");
    BasicString* consumed = temporary("consumed");
    int32_t mark = str_temp_mark();
    temporary("inner");
    str_free(consumed); // marked only: a live slot follows
    str_cleanup(mark, 0);
    // Freeing "inner" leaves the mark of "consumed" last: it goes too, below the statement's mark.
    EXPECT_EQ(str_temp_mark(), start + 1);
}

TEST_F(str_temporaries, count_never_falls_below_one) {
    temporary("x");
    str_cleanup(0, 0);
    EXPECT_EQ(str_temp_mark(), 1);
    str_cleanup(-7, 0);
    EXPECT_EQ(str_temp_mark(), 1);
    EXPECT_EQ(str_engine.temp_list[0], nullptr);
}

TEST_F(str_temporaries, make_temporary_puts_a_permanent_string_on_the_list) {
    int32_t mark = str_temp_mark();
    BasicString* s = variable("soon gone");
    EXPECT_EQ(str_make_temporary(s), s);
    EXPECT_TRUE(s->is_temporary);
    str_cleanup(mark, 0);
    EXPECT_TRUE(released(s));
}

TEST_F(str_temporaries, list_grows_past_its_capacity) {
    StrLimits small;
    small.temp_capacity = 3;
    reset(small);
    int32_t mark = str_temp_mark();
    std::vector<BasicString*> made;
    for (int i = 0; i < 20; ++i) made.push_back(literal("t"));
    EXPECT_GE(str_engine.temp_capacity, 20);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(made[size_t(i)]->temp_slot, mark + i);
    str_cleanup(mark, 0);
    EXPECT_EQ(str_temp_mark(), mark);
}

TEST_F(str_new_, literal_points_at_its_text_and_copies_nothing) {
    static const char hello[] = "hello";
    uint32_t used = str_engine.heap_used;
    BasicString* s = str_new_literal(hello, 5);
    EXPECT_EQ(s->chars, reinterpret_cast<const uint8_t*>(hello));
    EXPECT_TRUE(s->is_read_only);
    EXPECT_TRUE(s->is_temporary);
    EXPECT_EQ(str_engine.heap_used, used);
    EXPECT_EQ(str_engine.heap_list_count, 0);
}

TEST_F(str_new_, cstring_of_null_is_an_empty_temporary) {
    BasicString* s = str_new_cstring(nullptr);
    EXPECT_EQ(s->length, 0);
    EXPECT_TRUE(s->is_temporary);
}

TEST_F(str_new_, empty_heap_string_still_takes_its_slack) {
    BasicString* first = str_new(0, false);
    BasicString* second = str_new(0, false);
    EXPECT_EQ(heap_offset(first), 0u);
    EXPECT_EQ(heap_offset(second), HEAP_SLACK);
    EXPECT_EQ(str_engine.heap_used, 2 * HEAP_SLACK);
}

TEST_F(str_free_, heap_space_of_the_newest_strings_comes_back_at_once) {
    BasicString* only = variable("abc");
    str_free(only);
    EXPECT_EQ(str_engine.heap_used, 0u);

    BasicString* a = variable("aaaa");
    BasicString* b = variable("bbbbbbbb");
    BasicString* c = variable("cc");
    str_free(b); // middle: only marked
    EXPECT_EQ(str_engine.heap_used, heap_offset(c) + 2 + HEAP_SLACK);
    str_free(c); // newest: trims c and the mark of b
    EXPECT_EQ(str_engine.heap_list_count, 1);
    EXPECT_EQ(str_engine.heap_used, heap_offset(a) + 4 + HEAP_SLACK);
}

TEST_F(str_heap_compaction, moves_only_strings_behind_gaps_over_the_slack) {
    StrLimits limits;
    limits.heap_size = 4096;
    reset(limits);
    BasicString* a = variable(std::string(10, 'a'));  // 0..10, slack to 42
    BasicString* b = variable(std::string(100, 'b')); // 42..142, slack to 174
    BasicString* c = variable(std::string(10, 'c'));  // 174..184
    BasicString* d = variable(std::string(5, 'd'));   // 216..221
    str_free(b);
    uint8_t* a_before = a->chars;
    str_heap_compact(0);
    EXPECT_EQ(a->chars, a_before);  // nothing before it
    EXPECT_EQ(heap_offset(c), 10u); // gap of 164 closed
    EXPECT_EQ(heap_offset(d), 20u); // gap of 196 closed
    EXPECT_EQ(text(c), std::string(10, 'c'));
    EXPECT_EQ(text(d), std::string(5, 'd'));
    EXPECT_EQ(str_engine.heap_used, heap_offset(d) + 5); // no slack after compaction
}

TEST_F(str_heap_compaction, leaves_gaps_of_at_most_the_slack_in_place) {
    StrLimits roomy;
    roomy.heap_size = 4096; // no growth: the strings must stay where compaction leaves them
    reset(roomy);
    BasicString* a = variable("aaaa"); // 0..4, next string at 36: a gap of exactly 32
    BasicString* b = variable("bbbb"); // 36..40
    uint8_t* b_before = b->chars;
    str_heap_compact(0);
    EXPECT_EQ(b->chars, b_before);
    EXPECT_EQ(heap_offset(a), 0u);
    EXPECT_EQ(str_engine.heap_used, 40u);
}

TEST_F(str_heap_compaction, grows_the_heap_and_rebases_every_string) {
    StrLimits small;
    small.heap_size = 128;
    reset(small);
    std::vector<BasicString*> strings;
    for (int i = 0; i < 12; ++i)
        strings.push_back(variable(std::string(size_t(i + 3), char('a' + i))));
    EXPECT_GT(str_engine.heap_size, 128u);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(text(strings[size_t(i)]), std::string(size_t(i + 3), char('a' + i)));
        EXPECT_GE(strings[size_t(i)]->chars, str_engine.string_heap);
        EXPECT_LE(strings[size_t(i)]->chars + strings[size_t(i)]->length,
                  str_engine.string_heap + str_engine.heap_size);
    }
}

TEST_F(str_heap_compaction, reclaims_abandoned_space_before_growing) {
    StrLimits small;
    small.heap_size = 256;
    reset(small);
    BasicString* keep = variable("keep");
    // Statements that each make and drop a 100-byte temporary never need a bigger heap.
    for (int i = 0; i < 50; ++i) {
        int32_t mark = str_temp_mark();
        BasicString* filler = variable("x"); // permanent, freed out of order below
        temporary(std::string(100, 't'));
        str_cleanup(mark, 0);
        str_free(filler);
    }
    EXPECT_EQ(str_engine.heap_size, 256u);
    EXPECT_EQ(text(keep), "keep");
}

TEST_F(str_segment, permanent_strings_get_a_record_in_the_segment) {
    BasicString* s = str_new_segment(5, false);
    std::memcpy(s->chars, "hello", 5);
    uint8_t* segment = conv_memory + DATA_SEGMENT_BASE;
    EXPECT_EQ(s->chars, segment + SEGMENT_DATA_START);
    EXPECT_EQ(s->segment_entry_offset, int32_t(DATA_SEGMENT_SIZE - 4));
    EXPECT_EQ(s->segment_entry, segment + DATA_SEGMENT_SIZE - 4);
    // 16-bit length 5 and 16-bit offset 256, little-endian.
    EXPECT_EQ(std::vector<uint8_t>(s->segment_entry, s->segment_entry + 4),
              (std::vector<uint8_t>{5, 0, 0, 1}));
    BasicString* t = str_new_segment(3, true);
    EXPECT_EQ(t->segment_entry, nullptr);
    EXPECT_EQ(t->chars, s->chars + 5);
}

TEST_F(str_segment, compaction_packs_strings_and_rewrites_their_records) {
    BasicString* a = str_new_segment(3, false);
    BasicString* b = str_new_segment(40000, false);
    BasicString* c = str_new_segment(4, false);
    std::memcpy(a->chars, "aaa", 3);
    std::memcpy(c->chars, "cccc", 4);
    str_free(b);
    // 40000 + 40000 does not fit without reclaiming b's bytes.
    BasicString* d = str_new_segment(40000, false);
    uint8_t* segment = conv_memory + DATA_SEGMENT_BASE;
    EXPECT_EQ(a->chars, segment + 256);
    EXPECT_EQ(c->chars, segment + 259);
    EXPECT_EQ(text(c), "cccc");
    EXPECT_EQ(c->segment_entry[2] | c->segment_entry[3] << 8, 259);
    EXPECT_EQ(d->chars, segment + 263);
}

TEST_F(str_segment, full_segment_is_critical_error_13) {
    EXPECT_EXIT(
        {
            str_new_segment(40000, false);
            str_new_segment(40000, false);
        },
        testing::ExitedWithCode(0), "Critical Error #13");
}

TEST_F(str_segment, fixed_string_over_segment_memory_gets_a_record) {
    uint8_t* segment = conv_memory + DATA_SEGMENT_BASE;
    BasicString* inside = str_new_fixed(segment + 1000, 6, false);
    EXPECT_NE(inside->segment_entry, nullptr);
    EXPECT_EQ(inside->segment_entry[2] | inside->segment_entry[3] << 8, 1000);
    uint8_t outside_storage[6] = {};
    BasicString* outside = str_new_fixed(outside_storage, 6, false);
    EXPECT_EQ(outside->segment_entry, nullptr);
    // Freeing a fixed string never touches its storage.
    std::memcpy(outside_storage, "fixed!", 6);
    str_free(outside);
    EXPECT_EQ(std::memcmp(outside_storage, "fixed!", 6), 0);
}

TEST_F(str_descriptors, are_reused_last_in_first_out_and_come_back_zeroed) {
    BasicString* a = temporary("a");
    BasicString* b = temporary("b");
    str_free(a);
    str_free(b);
    BasicString* first = str_new_cstring("x");
    BasicString* second = str_new_cstring("y");
    EXPECT_EQ(first, b);
    EXPECT_EQ(second, a);
    EXPECT_EQ(first->list_slot, 0);
    EXPECT_TRUE(first->is_read_only);
    EXPECT_FALSE(first->in_segment);
}

TEST_F(str_descriptors, new_blocks_are_added_and_old_ones_kept) {
    StrLimits small;
    small.descriptor_block = 4;
    small.free_stack_capacity = 2;
    reset(small);
    std::vector<BasicString*> strings;
    for (int i = 0; i < 10; ++i) strings.push_back(variable(std::string(1, char('0' + i))));
    EXPECT_EQ(str_engine.descriptor_blocks.size(), 3u);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(text(strings[size_t(i)]), std::string(1, char('0' + i)));
    for (BasicString* s : strings) str_free(s);
    EXPECT_GE(str_engine.free_capacity, 10); // the stack doubled as it filled
}

TEST_F(str_lists, packing_keeps_address_order_and_renumbers_slots) {
    StrLimits small;
    small.heap_list_capacity = 4;
    reset(small);
    std::vector<BasicString*> strings;
    for (int i = 0; i < 5; ++i) strings.push_back(variable(std::string(1, char('a' + i))));
    str_free(strings[1]);
    str_free(strings[3]);
    BasicString* extra = variable("f"); // count 5 > capacity 4: pack first
    EXPECT_EQ(strings[0]->list_slot, 0);
    EXPECT_EQ(strings[2]->list_slot, 1);
    EXPECT_EQ(strings[4]->list_slot, 2);
    EXPECT_EQ(extra->list_slot, 3);
    EXPECT_EQ(str_engine.heap_list_capacity, 8); // still at least half full: doubled
}

// The list doubles unless its live entries are below half the capacity, compared exactly: 32 767
// of 65 535 are below half.
TEST_F(str_lists, packing_doubles_unless_exactly_below_half) {
    struct Case {
        int32_t capacity, live, capacity_after;
    } const cases[] = {
        {3, 1, 3}, {3, 2, 6}, {4, 1, 4}, {4, 2, 8}, {65535, 32767, 65535}, {65535, 32768, 131070},
    };
    for (const Case& c : cases) {
        StrLimits limits;
        limits.heap_list_capacity = c.capacity;
        limits.descriptor_block = 65536;
        limits.heap_size = 4u << 20;
        reset(limits);
        std::vector<BasicString*> strings;
        for (int32_t i = 0; i <= c.capacity; ++i) strings.push_back(str_new(0, false));
        for (int32_t i = 0; i < c.capacity + 1 - c.live; ++i) str_free(strings[size_t(i)]);
        BasicString* extra = str_new(0, false); // count is above capacity: packs first
        EXPECT_EQ(str_engine.heap_list_capacity, c.capacity_after) << c.capacity << " " << c.live;
        EXPECT_EQ(extra->list_slot, c.live) << c.capacity << " " << c.live;
    }
}

// Assignments leave their targets' old entries behind as marks; compaction remembers where the
// first live entry is and starts there next time, and a free that trims down to it empties the
// list.
TEST_F(str_lists, compaction_starts_at_the_first_live_entry) {
    StrLimits small;
    small.heap_size = 256;
    small.heap_list_capacity = 64;
    reset(small);
    BasicString* v = variable("");
    int32_t first_seen = 0;
    for (int i = 0; i < 40; ++i) {
        str_set(v, temporary(std::string(size_t(1 + i % 7), char('a' + i % 26))));
        EXPECT_EQ(text(v), std::string(size_t(1 + i % 7), char('a' + i % 26)));
        EXPECT_LE(str_engine.heap_list_first_live, v->list_slot);
        EXPECT_GE(str_engine.heap_list_first_live, first_seen); // only packing lowers it
        first_seen = str_engine.heap_list_first_live;
    }
    EXPECT_GT(first_seen, 0);
    EXPECT_EQ(str_engine.heap_size, 256u); // the packed data never filled half of the heap
    str_free(v);
    EXPECT_EQ(str_engine.heap_list_count, 0);
    EXPECT_EQ(str_engine.heap_list_first_live, 0);
    EXPECT_EQ(str_engine.heap_used, 0u);
}

TEST_F(scratch, allocations_bump_and_a_request_ending_at_the_end_takes_a_new_area) {
    StrLimits small;
    small.scratch_size = 64;
    reset(small);
    auto* begin = static_cast<uint8_t*>(scratch_alloc(16));
    EXPECT_EQ(begin, str_engine.scratch_begin);
    EXPECT_EQ(scratch_alloc(16), begin + 16);
    void* fresh = scratch_alloc(32); // would end exactly at the end
    EXPECT_NE(fresh, begin + 32);
    EXPECT_EQ(fresh, str_engine.scratch_begin);
    EXPECT_EQ(str_engine.scratch_size, 32 + 2 * 64);
}

TEST_F(scratch, reset_inside_the_area_rewinds_and_outside_goes_to_the_start) {
    auto* begin = static_cast<uint8_t*>(scratch_alloc(8));
    scratch_alloc(8);
    scratch_reset(begin + 8);
    EXPECT_EQ(scratch_alloc(1), begin + 8);
    int unrelated = 0;
    scratch_reset(&unrelated);
    EXPECT_EQ(str_engine.scratch_next, str_engine.scratch_begin);
}

} // namespace
