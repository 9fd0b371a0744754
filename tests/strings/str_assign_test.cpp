#include <cstring>

#include "strings/str_fixture.h"

namespace {

using str_set_ = StrEngineTest;
using str_add_ = StrEngineTest;
using str_left_ = StrEngineTest;
using str_compare = StrEngineTest;

TEST_F(str_set_, takes_over_a_temporary_without_moving_bytes) {
    BasicString* target = variable("ab");
    int32_t mark = str_temp_mark();
    BasicString* source = temporary("hello");
    uint8_t* data = source->chars;
    int32_t source_slot = source->list_slot;
    EXPECT_EQ(str_set(target, source), target);
    EXPECT_EQ(target->chars, data);
    EXPECT_EQ(target->list_slot, source_slot);
    EXPECT_EQ(str_engine.heap_list[source_slot], target);
    EXPECT_EQ(str_engine.free_descriptors[str_engine.free_count - 1], source);
    EXPECT_EQ(str_temp_mark(), mark);
    EXPECT_EQ(text(target), "hello");
}

TEST_F(str_set_, take_over_trims_every_trailing_empty_temporary_slot) {
    BasicString* target = variable("");
    int32_t mark = str_temp_mark();
    BasicString* dead = temporary("dead");
    BasicString* source = temporary("live");
    str_free(dead); // a mark in the middle of the statement's temporaries
    str_set(target, source);
    EXPECT_EQ(str_temp_mark(), mark);
    EXPECT_EQ(text(target), "live");
}

TEST_F(str_set_, copies_a_literal_and_frees_its_descriptor) {
    BasicString* target = variable("");
    static const char text_bytes[] = "literal";
    BasicString* source = str_new_literal(text_bytes, 7);
    str_set(target, source);
    EXPECT_NE(target->chars, reinterpret_cast<const uint8_t*>(text_bytes));
    EXPECT_EQ(text(target), "literal");
    EXPECT_TRUE(released(source));
}

TEST_F(str_set_, fixed_target_is_padded_or_cut_to_its_length) {
    uint8_t storage[5];
    BasicString* fixed = str_new_fixed(storage, 5, false);
    str_set(fixed, literal("ab"));
    EXPECT_EQ(text(fixed), "ab   ");
    str_set(fixed, literal("abcdefgh"));
    EXPECT_EQ(text(fixed), "abcde");
    EXPECT_EQ(fixed->chars, storage);
    str_set(fixed, temporary("xyz"));
    EXPECT_EQ(text(fixed), "xyz  ");
    EXPECT_EQ(str_temp_mark(), 1);
}

TEST_F(str_set_, shorter_value_is_copied_in_place) {
    BasicString* target = variable("longer text");
    uint8_t* place = target->chars;
    BasicString* other = variable("short");
    str_set(target, other);
    EXPECT_EQ(target->chars, place);
    EXPECT_EQ(text(target), "short");
    EXPECT_EQ(text(other), "short");
}

TEST_F(str_set_, assigning_a_string_to_itself_changes_nothing) {
    BasicString* s = variable("same");
    str_set(s, s);
    EXPECT_EQ(text(s), "same");
}

TEST_F(str_set_, last_string_grows_in_place_and_ends_the_used_area) {
    BasicString* target = variable("ab");
    uint8_t* place = target->chars;
    str_set(target, literal("a longer value"));
    EXPECT_EQ(target->chars, place);
    EXPECT_EQ(str_engine.heap_used, heap_offset(target) + 14); // no slack after growth
}

TEST_F(str_set_, grows_into_the_slack_before_the_next_live_string) {
    BasicString* target = variable("ab"); // 0..2, next string at 34
    BasicString* next = variable("next"); // 34..38
    str_set(target, literal(std::string(34, 'x').c_str()));
    EXPECT_EQ(heap_offset(target), 0u);
    EXPECT_EQ(text(target), std::string(34, 'x'));
    EXPECT_EQ(text(next), "next");
}

TEST_F(str_set_, relocates_when_the_next_live_string_is_too_close) {
    BasicString* target = variable("ab");
    BasicString* next = variable("next");
    int32_t old_slot = target->list_slot;
    str_set(target, literal(std::string(35, 'y').c_str()));
    EXPECT_GT(target->chars, next->chars);
    EXPECT_EQ(str_engine.heap_list[old_slot], STR_EMPTY_MARK);
    EXPECT_EQ(target->list_slot, str_engine.heap_list_count - 1);
    EXPECT_EQ(text(target), std::string(35, 'y'));
    EXPECT_EQ(text(next), "next");
}

TEST_F(str_set_, empty_marks_after_a_segment_target_are_dropped_and_their_space_used) {
    // Freeing a segment string trims only one trailing mark, so marks can follow the target.
    BasicString* target = str_new_segment(2, false);
    BasicString* middle = str_new_segment(100, false);
    BasicString* last = str_new_segment(100, false);
    str_free(middle);
    str_free(last);
    ASSERT_EQ(str_engine.segment_list_count, 2);
    str_set(target, literal(std::string(150, 'z').c_str()));
    EXPECT_EQ(target->chars, conv_memory + DATA_SEGMENT_BASE + SEGMENT_DATA_START);
    EXPECT_EQ(str_engine.segment_list_count, 1);
    EXPECT_EQ(str_engine.segment_used, SEGMENT_DATA_START + 150);
    EXPECT_EQ(text(target), std::string(150, 'z'));
}

TEST_F(str_set_, segment_target_copies_a_heap_temporary_and_updates_its_record) {
    // Different storage: no take-over, the bytes are copied and the temporary is freed.
    BasicString* target = str_new_segment(2, false);
    std::memcpy(target->chars, "ab", 2);
    BasicString* source = temporary(std::string(3000, 's'));
    str_set(target, source);
    EXPECT_EQ(text(target), std::string(3000, 's'));
    EXPECT_EQ(target->segment_entry[0] | target->segment_entry[1] << 8, 3000);
    EXPECT_TRUE(released(source));
}

TEST_F(str_add_, empty_operand_returns_the_other_even_a_variable) {
    BasicString* v = variable("var");
    EXPECT_EQ(str_add(v, literal("")), v);
    EXPECT_EQ(str_add(literal(""), v), v);
    EXPECT_EQ(text(v), "var");
}

TEST_F(str_add_, makes_a_new_temporary_and_frees_temporary_operands) {
    BasicString* v = variable("drive ");
    BasicString* lit = literal("E:");
    BasicString* sum = str_add(v, lit);
    EXPECT_TRUE(sum->is_temporary);
    EXPECT_EQ(text(sum), "drive E:");
    EXPECT_TRUE(released(lit));
    EXPECT_FALSE(released(v));
    BasicString* t = temporary("left ");
    BasicString* both = str_add(t, temporary("right"));
    EXPECT_EQ(text(both), "left right");
    EXPECT_TRUE(released(t));
}

TEST_F(str_add_, variable_plus_literal_assigned_back_is_taken_over) {
    BasicString* v = variable("E");
    int32_t mark = str_temp_mark();
    BasicString* lit = literal(":");
    BasicString* sum = str_add(v, lit);
    uint8_t* data = sum->chars;
    EXPECT_TRUE(released(lit));
    str_set(v, sum);
    EXPECT_EQ(v->chars, data);
    EXPECT_TRUE(released(sum));
    str_cleanup(mark, 0);
    EXPECT_EQ(text(v), "E:");
}

TEST_F(str_left_, identity_and_clamping) {
    BasicString* one = variable("E");
    EXPECT_EQ(str_left(one, 1), one);
    EXPECT_EQ(str_left(one, 99), one);
    BasicString* empty = variable("");
    EXPECT_EQ(str_left(empty, 1), empty);
    BasicString* cut = str_left(variable("abc"), -3);
    EXPECT_EQ(cut->length, 0);
    EXPECT_TRUE(cut->is_temporary);
}

TEST_F(str_left_, plain_temporary_is_cut_in_place_others_are_copied) {
    BasicString* t = temporary("abcdef");
    uint8_t* data = t->chars;
    EXPECT_EQ(str_left(t, 2), t);
    EXPECT_EQ(t->chars, data);
    EXPECT_EQ(text(t), "ab");

    BasicString* lit = literal("xyz");
    BasicString* copy = str_left(lit, 1);
    EXPECT_NE(copy, lit);
    EXPECT_EQ(text(copy), "x");
    EXPECT_TRUE(released(lit));

    BasicString* v = variable("variable");
    BasicString* part = str_left(v, 3);
    EXPECT_EQ(text(part), "var");
    EXPECT_EQ(text(v), "variable");
}

TEST_F(str_compare, orders_by_unsigned_bytes_then_length) {
    BasicString* ab = variable("ab");
    BasicString* abc = variable("abc");
    EXPECT_EQ(str_less(ab, abc), -1);
    EXPECT_EQ(str_less(abc, ab), 0);
    EXPECT_EQ(str_greater(abc, ab), -1);
    EXPECT_EQ(str_greater_equal(ab, variable("ab")), -1);
    EXPECT_EQ(str_less_equal(ab, variable("ab")), -1);
    EXPECT_EQ(str_equal(ab, variable("ab")), -1);
    EXPECT_EQ(str_not_equal(ab, abc), -1);
    EXPECT_EQ(str_equal(ab, abc), 0);
    BasicString* high = variable("\xE9");
    EXPECT_EQ(str_greater(high, variable("z")), -1); // 0xE9 > 'z' unsigned
    BasicString* empty = variable("");
    EXPECT_EQ(str_less(empty, variable("\x01")), -1);
    EXPECT_EQ(str_equal(empty, str_new_cstring(nullptr)), -1);
    EXPECT_EQ(str_less(variable("A"), variable("a")), -1); // no case folding
}

TEST_F(str_compare, never_frees_its_arguments) {
    int32_t mark = str_temp_mark();
    BasicString* a = temporary("x");
    BasicString* b = literal("y");
    str_less(a, b);
    str_equal(a, b);
    EXPECT_FALSE(released(a));
    EXPECT_FALSE(released(b));
    EXPECT_EQ(str_temp_mark(), mark + 2);
    str_cleanup(mark, 0);
}

} // namespace
