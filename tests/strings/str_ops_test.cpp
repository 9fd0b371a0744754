#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/base/error.h"
#include "runtime/core/startup.h"
#include "strings/str_fixture.h"

namespace {

// Each test ends like a statement: its temporaries are cleaned up, none may remain, and the
// engine's lists must still be consistent.
class StrOpsTest : public StrEngineTest {
  protected:
    void SetUp() override {
        StrEngineTest::SetUp();
        forget_startup_strings();
    }
    void TearDown() override {
        EXPECT_EQ(str_cleanup(1, 7), 7);
        EXPECT_EQ(str_temp_mark(), 1);
        StrEngineTest::TearDown();
        forget_startup_strings();
    }
    // An engine reset recycles every descriptor, so the command line of an earlier test would
    // alias new strings of this one (the engine forgets its own permanent strings itself).
    static void forget_startup_strings() { command_line = nullptr; }

    static bool on_temp_list(const BasicString* s) {
        for (int32_t i = 1; i < str_engine.temp_count; ++i)
            if (str_engine.temp_list[i] == s) return true;
        return false;
    }
    // A new temporary made by the operation: plain, on the temporary list, data in the heap list.
    static void expect_new_temporary(const BasicString* r) {
        EXPECT_TRUE(str_is_plain_temporary(r));
        EXPECT_TRUE(on_temp_list(r));
        ASSERT_GE(r->list_slot, 0);
        ASSERT_LT(r->list_slot, str_engine.heap_list_count);
        EXPECT_EQ(str_engine.heap_list[r->list_slot], r);
    }
    static BasicString* segment_temporary(const std::string& value) {
        BasicString* s = str_new_segment(int32_t(value.size()), true);
        if (!value.empty()) std::memcpy(s->chars, value.data(), value.size());
        return s;
    }
    static uint32_t error_code() { return run_state.error_code.load(); }

    // Sets up a heap in which the next allocation of `result_length` bytes compacts the heap
    // (without growing it) and moves the returned permanent string down over part of its own
    // old bytes, so that an operation which read the argument's `chars` before allocating its
    // result copies the wrong bytes. `value` must be 50 bytes long.
    BasicString* moving_variable(const std::string& value, int32_t result_length) {
        EXPECT_EQ(value.size(), 50u);
        StrLimits limits;
        limits.heap_size = uint32_t(result_length) + 180;
        reset(limits);
        forget_startup_strings();
        BasicString* gap = variable("12345678"); // 8 + 32 bytes before the variable
        BasicString* moving = variable(value);
        variable("z"); // a later string keeps the freed gap from being given back at once
        str_free(gap);
        moved_from = moving->chars;
        return moving;
    }
    // The argument really moved during the operation and the heap kept its size.
    void expect_moved(const BasicString* moving) {
        EXPECT_NE(moving->chars, moved_from);
        EXPECT_EQ(moving->chars, str_engine.string_heap);
        EXPECT_EQ(str_engine.heap_size, str_engine.limits.heap_size);
    }
    uint8_t* moved_from = nullptr;
};

using str_right_ = StrOpsTest;
using str_mid_ = StrOpsTest;
using str_mid_assign_ = StrOpsTest;
using str_instr_ = StrOpsTest;
using str_case = StrOpsTest;
using str_trim = StrOpsTest;
using str_fill = StrOpsTest;
using str_chr_ = StrOpsTest;
using str_asc_ = StrOpsTest;
using str_len_ = StrOpsTest;
using str_justify = StrOpsTest;
using str_byte_word_ = StrOpsTest;
using str_ops_moving_heap = StrOpsTest;

const std::string HELLO = "HELLO WORLD";

// --- str_right ----------------------------------------------------------------------------------

TEST_F(str_right_, whole_string_or_more_returns_the_argument_itself) {
    BasicString* v = variable("abc");
    EXPECT_EQ(str_right(v, 3), v);
    EXPECT_EQ(str_right(v, INT_MAX), v);
    BasicString* lit = literal("xyz");
    EXPECT_EQ(str_right(lit, 3), lit);
    EXPECT_TRUE(on_temp_list(lit));
    EXPECT_FALSE(released(lit));
    BasicString* empty = variable("");
    EXPECT_EQ(str_right(empty, 0), empty);
    EXPECT_EQ(str_right(empty, -5), empty);
}

TEST_F(str_right_, plain_temporary_is_narrowed_in_place) {
    BasicString* t = temporary(HELLO);
    uint8_t* data = t->chars;
    int32_t slot = t->list_slot;
    EXPECT_EQ(str_right(t, 5), t);
    EXPECT_EQ(t->chars, data + 6);
    EXPECT_EQ(text(t), "WORLD");
    EXPECT_EQ(t->list_slot, slot);
    EXPECT_EQ(str_right(t, -1), t);
    EXPECT_EQ(t->length, 0);
    EXPECT_EQ(t->chars, data + 11);
}

TEST_F(str_right_, variable_is_copied_and_kept) {
    BasicString* v = variable(HELLO);
    BasicString* r = str_right(v, 3);
    ASSERT_NE(r, v);
    expect_new_temporary(r);
    EXPECT_EQ(text(r), "RLD");
    EXPECT_EQ(text(v), HELLO);
    EXPECT_FALSE(released(v));
    BasicString* none = str_right(v, -3);
    ASSERT_NE(none, v);
    expect_new_temporary(none);
    EXPECT_EQ(none->length, 0);
}

TEST_F(str_right_, literal_is_copied_and_its_descriptor_released) {
    BasicString* lit = literal("HELLO WORLD");
    const uint8_t* literal_bytes = lit->chars;
    BasicString* r = str_right(lit, 2);
    expect_new_temporary(r);
    EXPECT_EQ(text(r), "LD");
    EXPECT_NE(r->chars, literal_bytes + 9);
    ASSERT_EQ(str_engine.free_count, 1);
    EXPECT_EQ(str_engine.free_descriptors[0], lit);
    EXPECT_FALSE(on_temp_list(lit));
}

TEST_F(str_right_, segment_and_fixed_temporaries_are_copied_and_freed) {
    BasicString* seg = segment_temporary("segment");
    int32_t seg_slot = seg->list_slot;
    BasicString* r = str_right(seg, 4);
    expect_new_temporary(r);
    EXPECT_EQ(text(r), "ment");
    EXPECT_TRUE(released(seg));
    EXPECT_EQ(str_engine.segment_list_count, seg_slot);

    uint8_t storage[6] = {'f', 'i', 'x', 'e', 'd', '!'};
    BasicString* fixed = str_new_fixed(storage, 6, true);
    BasicString* f = str_right(fixed, 1);
    expect_new_temporary(f);
    EXPECT_EQ(text(f), "!");
    EXPECT_TRUE(released(fixed));
    EXPECT_EQ(storage[5], '!');
}

// --- str_mid ------------------------------------------------------------------------------------

TEST_F(str_mid_, table_of_start_and_count) {
    struct Case {
        int32_t start, n, n_given;
        const char* expected;
    };
    const Case cases[] = {
        {1, 5, 1, "HELLO"},
        {7, 5, 1, "WORLD"},
        {7, 99, 1, "WORLD"}, // cut to the rest
        {11, 1, 1, "D"},
        {12, 1, 1, ""}, // start beyond the end
        {3, 0, 1, ""},
        {3, -2, 1, ""},
        {0, 3, 1, "HE"}, // one position before the start costs one character
        {-2, 5, 1, "HE"},
        {-4, 5, 1, ""},            // nothing left after the reduction
        {INT_MIN, INT_MAX, 1, ""}, // no overflow in the reduction
        {INT_MIN + 1, INT_MAX, 1, ""},
        {1, INT_MAX, 1, HELLO.c_str()},
        {INT_MAX, INT_MAX, 1, ""},
        {7, 0, 0, "WORLD"}, // without a count: the rest
        {0, 0, 0, HELLO.c_str()},
        {INT_MIN, 0, 0, HELLO.c_str()},
        {11, 0, 0, "D"},
        {12, 0, 0, ""},
        {INT_MAX, 0, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "start " << c.start << " n " << c.n << " given " << c.n_given);
        BasicString* v = variable(HELLO);
        EXPECT_EQ(text(str_mid(v, c.start, c.n, c.n_given)), c.expected);
        BasicString* t = temporary(HELLO);
        BasicString* in_place = str_mid(t, c.start, c.n, c.n_given);
        EXPECT_EQ(in_place, t);
        EXPECT_EQ(text(in_place), c.expected);
        str_cleanup(1, 0);
        EXPECT_STREQ(str_check_invariants(), "");
    }
}

TEST_F(str_mid_, whole_string_returns_the_argument_itself) {
    BasicString* v = variable(HELLO);
    EXPECT_EQ(str_mid(v, 1, 11, 1), v);
    EXPECT_EQ(str_mid(v, 1, 50, 1), v);
    EXPECT_EQ(str_mid(v, 1, 0, 0), v);
    EXPECT_EQ(str_mid(v, -3, 0, 0), v);
    BasicString* lit = literal("abc");
    EXPECT_EQ(str_mid(lit, 1, 3, 1), lit);
    EXPECT_FALSE(released(lit));
    BasicString* empty = variable("");
    EXPECT_EQ(str_mid(empty, 1, 0, 1), empty);
    EXPECT_EQ(str_mid(empty, 5, 2, 1), empty);
    EXPECT_EQ(str_mid(empty, 1, 0, 0), empty);
    EXPECT_EQ(str_engine.temp_count, 2); // only the literal
}

TEST_F(str_mid_, plain_temporary_advances_and_shortens_in_place) {
    BasicString* t = temporary(HELLO);
    uint8_t* data = t->chars;
    EXPECT_EQ(str_mid(t, 3, 4, 1), t);
    EXPECT_EQ(t->chars, data + 2);
    EXPECT_EQ(t->length, 4);
    EXPECT_EQ(text(t), "LLO ");
    EXPECT_EQ(str_engine.free_count, 0);
    EXPECT_EQ(str_engine.heap_list_count, 1);
}

TEST_F(str_mid_, literal_is_copied_and_released_even_for_an_empty_result) {
    BasicString* lit = literal("HELLO");
    BasicString* r = str_mid(lit, 2, 3, 1);
    expect_new_temporary(r);
    EXPECT_EQ(text(r), "ELL");
    EXPECT_TRUE(released(lit));
    BasicString* lit2 = literal("HELLO");
    BasicString* none = str_mid(lit2, 9, 1, 1);
    expect_new_temporary(none);
    EXPECT_EQ(none->length, 0);
    EXPECT_TRUE(released(lit2));
}

// --- str_mid_assign -----------------------------------------------------------------------------

TEST_F(str_mid_assign_, table_of_start_count_and_source) {
    struct Case {
        int32_t start, n, n_given;
        const char* source;
        const char* expected;
    };
    const Case cases[] = {
        {3, 0, 0, "xyz", "ABxyzFGH"},
        {3, 2, 1, "xyz", "ABxyEFGH"},
        {3, 9, 1, "xyz", "ABxyzFGH"}, // cut to the source
        {7, 0, 0, "xyz", "ABCDEFxy"}, // cut to the target
        {8, 0, 0, "xyz", "ABCDEFGx"},
        {9, 0, 0, "xyz", "ABCDEFGH"}, // beyond the target
        {1, 0, 0, "", "ABCDEFGH"},    // nothing to copy
        {3, 0, 1, "xyz", "ABCDEFGH"},
        {3, -4, 1, "xyz", "ABCDEFGH"},
        {0, 0, 0, "xyz", "yzCDEFGH"},  // skips the first source byte
        {-1, 5, 1, "xyz", "zBCDEFGH"}, // skips two, n 3 cut to the one left
        {-1, 2, 1, "xyz", "ABCDEFGH"}, // n reduced to 0
        {-2, 0, 0, "xyz", "ABCDEFGH"}, // no source byte left
        {INT_MIN, INT_MAX, 1, "xyz", "ABCDEFGH"},
        {INT_MIN, 0, 0, "xyz", "ABCDEFGH"},
        {INT_MAX, INT_MAX, 1, "xyz", "ABCDEFGH"},
        {1, INT_MAX, 1, "0123456789", "01234567"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "start " << c.start << " n " << c.n << " given "
                                        << c.n_given << " source " << c.source);
        BasicString* target = variable("ABCDEFGH");
        uint8_t* data = target->chars;
        str_mid_assign(target, c.start, c.n, literal(c.source), c.n_given);
        EXPECT_EQ(text(target), c.expected);
        EXPECT_EQ(target->chars, data);
        EXPECT_EQ(str_temp_mark(), 1); // the literal source was consumed
    }
}

TEST_F(str_mid_assign_, temporary_source_is_freed_and_its_heap_space_returned) {
    BasicString* target = variable("........");
    uint32_t used = str_engine.heap_used;
    BasicString* source = temporary("abc");
    str_mid_assign(target, 2, 0, source, 0);
    EXPECT_EQ(text(target), ".abc....");
    EXPECT_TRUE(released(source));
    EXPECT_EQ(str_engine.heap_used, used);
    EXPECT_EQ(str_temp_mark(), 1);
}

TEST_F(str_mid_assign_, permanent_source_is_kept) {
    BasicString* target = variable("........");
    BasicString* source = variable("abc");
    str_mid_assign(target, 1, 2, source, 1);
    EXPECT_EQ(text(target), "ab......");
    EXPECT_EQ(text(source), "abc");
    EXPECT_FALSE(released(source));
}

TEST_F(str_mid_assign_, target_as_its_own_source_overlaps_correctly) {
    BasicString* target = variable("ABCDEFGH");
    str_mid_assign(target, 3, 0, target, 0);
    EXPECT_EQ(text(target), "ABABCDEF");
    str_mid_assign(target, 0, 0, target, 0);
    EXPECT_EQ(text(target), "BABCDEFF");
    EXPECT_FALSE(released(target));
}

TEST_F(str_mid_assign_, fixed_and_segment_targets_are_written_in_place) {
    uint8_t storage[4] = {'w', 'x', 'y', 'z'};
    BasicString* fixed = str_new_fixed(storage, 4, false);
    str_mid_assign(fixed, 2, 0, literal("12345"), 0);
    EXPECT_EQ(std::string(storage, storage + 4), "w123");
    EXPECT_EQ(fixed->length, 4);

    BasicString* seg = str_new_segment(3, false);
    std::memcpy(seg->chars, "abc", 3);
    str_mid_assign(seg, 3, 1, literal("Z"), 1);
    EXPECT_EQ(text(seg), "abZ");
    EXPECT_EQ(seg->segment_entry[0], 3); // length recorded in the segment is unchanged
}

TEST_F(str_mid_assign_, does_nothing_while_an_error_is_pending) {
    BasicString* target = variable("ABCDEFGH");
    error_raise(ERROR_OVERFLOW);
    BasicString* source = temporary("xyz");
    str_mid_assign(target, 1, 0, source, 0);
    EXPECT_EQ(text(target), "ABCDEFGH");
    EXPECT_TRUE(on_temp_list(source)); // left for the statement's clean-up
    EXPECT_EQ(error_code(), ERROR_OVERFLOW);
}

TEST_F(str_mid_assign_, never_writes_literal_storage_or_the_shared_empty_string) {
    char storage[] = "literal";
    BasicString* target = str_new_literal(storage, 7);
    str_mid_assign(target, 1, 0, literal("XX"), 0);
    EXPECT_STREQ(storage, "literal");
    EXPECT_EQ(text(target), "literal");
    EXPECT_EQ(error_code(), 0u);

    startup_strings(0, nullptr);
    // The shared empty string lies just before the one-space string in the segment.
    ASSERT_EQ(str_shared_empty->chars, str_one_space->chars);
    BasicString* source = temporary("XX");
    str_mid_assign(str_shared_empty, 1, 1, source, 1);
    EXPECT_EQ(str_shared_empty->length, 0);
    EXPECT_EQ(text(str_one_space), " ");
    EXPECT_TRUE(released(source));
}

// --- str_instr ----------------------------------------------------------------------------------

TEST_F(str_instr_, table_of_positions) {
    struct Case {
        int32_t start, start_given;
        std::string s, find;
        int32_t expected;
    };
    const std::string zero_bytes("a\0b\0c", 5);
    const Case cases[] = {
        {0, 0, "ABCABC", "BC", 2},
        {3, 1, "ABCABC", "BC", 5},
        {2, 1, "ABCABC", "BC", 2},
        {6, 1, "ABCABC", "BC", 0}, // only a partial match at the end
        {1, 1, "ABCABC", "ABCABCD", 0},
        {1, 1, "ABCABC", "ABCABC", 1},
        {0, 1, "ABCABC", "C", 3}, // start <= 0 becomes 1 for a non-empty search
        {INT_MIN, 1, "ABCABC", "C", 3},
        {7, 1, "ABCABC", "C", 0}, // start beyond the end
        {INT_MAX, 1, "ABCABC", "", 0},
        {0, 0, "ABCABC", "", 1}, // empty search: the start position
        {4, 1, "ABCABC", "", 4},
        {6, 1, "ABCABC", "", 6},
        {0, 1, "ABCABC", "", 0}, // empty search with start <= 0
        {-5, 1, "ABCABC", "", 0},
        {0, 0, "", "", 0}, // empty string searched
        {0, 0, "", "A", 0},
        {1, 1, "", "", 0},
        {0, 0, "abcab", "abx", 0},
        {0, 0, "aaab", "aab", 2},
        {0, 0, zero_bytes, std::string("\0c", 2), 4},
        {0, 0, "\xE4\xC4", "\xC4", 2}, // bytes compare exactly, no case folding
        {0, 0, "abc", "B", 0},
        {17, 0, "ABCABC", "C", 3}, // start ignored when not given
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "start " << c.start << " given " << c.start_given
                                        << " in '" << c.s << "' find '" << c.find << "'");
        BasicString* s = variable(c.s);
        BasicString* find = variable(c.find);
        EXPECT_EQ(str_instr(c.start, s, find, c.start_given), c.expected);
    }
}

TEST_F(str_instr_, does_not_free_its_arguments) {
    BasicString* s = temporary("xxabc");
    BasicString* find = literal("abc");
    EXPECT_EQ(str_instr(0, s, find, 0), 3);
    EXPECT_TRUE(on_temp_list(s));
    EXPECT_TRUE(on_temp_list(find));
    EXPECT_EQ(str_engine.free_count, 0);
    EXPECT_EQ(text(s), "xxabc");
}

// --- str_upper / str_lower ----------------------------------------------------------------------

// Every byte just outside and at the ends of both letter ranges, plus bytes above 127.
const std::string BOUNDARIES("@AZ[`az{\x00\xE4\xC4\xFF", 12);

TEST_F(str_case, only_ascii_letters_change) {
    BasicString* t = temporary(BOUNDARIES);
    EXPECT_EQ(text(str_upper(t)), std::string("@AZ[`AZ{\x00\xE4\xC4\xFF", 12));
    BasicString* u = temporary(BOUNDARIES);
    EXPECT_EQ(text(str_lower(u)), std::string("@az[`az{\x00\xE4\xC4\xFF", 12));
}

TEST_F(str_case, plain_temporary_is_converted_in_place) {
    BasicString* t = temporary("Mixed Case 1");
    uint8_t* data = t->chars;
    EXPECT_EQ(str_upper(t), t);
    EXPECT_EQ(t->chars, data);
    EXPECT_EQ(text(t), "MIXED CASE 1");
    EXPECT_EQ(str_lower(t), t);
    EXPECT_EQ(text(t), "mixed case 1");
    EXPECT_EQ(str_engine.heap_list_count, 1);
}

TEST_F(str_case, nothing_to_change_returns_the_argument_itself) {
    BasicString* v = variable("ABC 123");
    EXPECT_EQ(str_upper(v), v);
    BasicString* w = variable("abc 123");
    EXPECT_EQ(str_lower(w), w);
    BasicString* lit = literal("NO LOWER");
    EXPECT_EQ(str_upper(lit), lit);
    EXPECT_FALSE(released(lit));
    BasicString* empty_lit = literal("");
    EXPECT_EQ(str_lower(empty_lit), empty_lit);
    EXPECT_EQ(str_engine.heap_list_count, 2);
}

TEST_F(str_case, variable_is_copied_and_kept) {
    BasicString* v = variable("Hello");
    BasicString* r = str_upper(v);
    ASSERT_NE(r, v);
    expect_new_temporary(r);
    EXPECT_EQ(text(r), "HELLO");
    EXPECT_EQ(text(v), "Hello");
    BasicString* l = str_lower(v);
    ASSERT_NE(l, v);
    EXPECT_EQ(text(l), "hello");
    EXPECT_FALSE(released(v));
}

TEST_F(str_case, literal_is_copied_never_written_and_released) {
    char storage[] = "Literal";
    BasicString* lit = str_new_literal(storage, 7);
    BasicString* r = str_lower(lit);
    expect_new_temporary(r);
    EXPECT_EQ(text(r), "literal");
    EXPECT_STREQ(storage, "Literal");
    EXPECT_TRUE(released(lit));
}

TEST_F(str_case, segment_temporary_is_copied_and_freed) {
    BasicString* seg = segment_temporary("seg");
    uint8_t* data = seg->chars;
    BasicString* r = str_upper(seg);
    expect_new_temporary(r);
    EXPECT_EQ(text(r), "SEG");
    EXPECT_EQ(std::string(data, data + 3), "seg");
    EXPECT_TRUE(released(seg));
}

// --- str_ltrim / str_rtrim ----------------------------------------------------------------------

TEST_F(str_trim, only_spaces_are_removed) {
    EXPECT_EQ(text(str_ltrim(temporary("  \tA B  "))), "\tA B  ");
    EXPECT_EQ(text(str_rtrim(temporary("  A B\t  "))), "  A B\t");
    EXPECT_EQ(text(str_ltrim(temporary(std::string("\0 x", 3)))), std::string("\0 x", 3));
    EXPECT_EQ(str_ltrim(temporary("    "))->length, 0);
    EXPECT_EQ(str_rtrim(temporary("    "))->length, 0);
}

TEST_F(str_trim, unchanged_strings_are_returned_themselves) {
    BasicString* v = variable("A  ");
    EXPECT_EQ(str_ltrim(v), v);
    BasicString* w = variable("  A");
    EXPECT_EQ(str_rtrim(w), w);
    BasicString* empty = variable("");
    EXPECT_EQ(str_ltrim(empty), empty);
    EXPECT_EQ(str_rtrim(empty), empty);
    BasicString* lit = literal("x ");
    EXPECT_EQ(str_ltrim(lit), lit);
    EXPECT_FALSE(released(lit));
}

TEST_F(str_trim, plain_temporary_is_trimmed_in_place) {
    BasicString* t = temporary("   abc   ");
    uint8_t* data = t->chars;
    EXPECT_EQ(str_ltrim(t), t);
    EXPECT_EQ(t->chars, data + 3);
    EXPECT_EQ(str_rtrim(t), t);
    EXPECT_EQ(t->chars, data + 3);
    EXPECT_EQ(text(t), "abc");
}

TEST_F(str_trim, variable_and_literal_are_copied) {
    BasicString* v = variable("  abc  ");
    BasicString* l = str_ltrim(v);
    expect_new_temporary(l);
    EXPECT_EQ(text(l), "abc  ");
    BasicString* r = str_rtrim(v);
    expect_new_temporary(r);
    EXPECT_EQ(text(r), "  abc");
    EXPECT_EQ(text(v), "  abc  ");

    BasicString* lit = literal("   ");
    BasicString* blank = str_rtrim(lit);
    expect_new_temporary(blank);
    EXPECT_EQ(blank->length, 0);
    EXPECT_TRUE(released(lit));
}

// --- str_space / str_repeat ---------------------------------------------------------------------

TEST_F(str_fill, counts_and_codes) {
    BasicString* s = str_space(4);
    expect_new_temporary(s);
    EXPECT_EQ(text(s), "    ");
    EXPECT_EQ(str_space(0)->length, 0);
    EXPECT_EQ(str_space(-7)->length, 0);
    EXPECT_EQ(text(str_repeat(3, 'A')), "AAA");
    EXPECT_EQ(text(str_repeat(2, 256 + 'B')), "BB");
    EXPECT_EQ(text(str_repeat(2, -1)), "\xFF\xFF");
    EXPECT_EQ(text(str_repeat(1, 0)), std::string(1, '\0'));
    EXPECT_EQ(str_repeat(INT_MIN, 'x')->length, 0);
    EXPECT_EQ(error_code(), 0u);
}

// --- str_chr ------------------------------------------------------------------------------------

TEST_F(str_chr_, codes_0_to_255_give_one_byte) {
    for (int32_t code : {0, 1, 65, 127, 128, 255}) {
        BasicString* c = str_chr(code);
        expect_new_temporary(c);
        ASSERT_EQ(c->length, 1);
        EXPECT_EQ(c->chars[0], code);
    }
    EXPECT_EQ(error_code(), 0u);
}

TEST_F(str_chr_, out_of_range_raises_error_5_with_an_empty_result) {
    for (int32_t code : {256, -1, INT_MIN, INT_MAX}) {
        run_state_reset();
        BasicString* c = str_chr(code);
        EXPECT_EQ(error_code(), ERROR_ILLEGAL_FUNCTION_CALL) << code;
        EXPECT_EQ(run_state.event_pending.load(), 1u);
        expect_new_temporary(c);
        EXPECT_EQ(c->length, 0);
    }
}

// --- str_asc / str_asc_at -----------------------------------------------------------------------

TEST_F(str_asc_, first_byte_unsigned) {
    EXPECT_EQ(str_asc(literal("A")), 65);
    EXPECT_EQ(str_asc(literal("\xC8z")), 200);
    EXPECT_EQ(str_asc(variable(std::string(1, '\0'))), 0);
    EXPECT_EQ(error_code(), 0u);
}

TEST_F(str_asc_, empty_string_raises_error_5) {
    BasicString* empty = temporary("");
    EXPECT_EQ(str_asc(empty), 0);
    EXPECT_EQ(error_code(), ERROR_ILLEGAL_FUNCTION_CALL);
    EXPECT_TRUE(on_temp_list(empty));
}

TEST_F(str_asc_, at_position) {
    BasicString* s = temporary("ab\xFF");
    EXPECT_EQ(str_asc_at(s, 1), 'a');
    EXPECT_EQ(str_asc_at(s, 3), 255);
    EXPECT_EQ(error_code(), 0u);
    for (int32_t position : {0, 4, -1, INT_MIN, INT_MAX}) {
        run_state_reset();
        EXPECT_EQ(str_asc_at(s, position), 0);
        EXPECT_EQ(error_code(), ERROR_ILLEGAL_FUNCTION_CALL) << position;
    }
    EXPECT_TRUE(on_temp_list(s));
    EXPECT_EQ(str_engine.free_count, 0);
}

// --- str_len ------------------------------------------------------------------------------------

TEST_F(str_len_, length_without_freeing) {
    BasicString* t = temporary("four");
    BasicString* lit = literal("");
    EXPECT_EQ(str_len(t), 4);
    EXPECT_EQ(str_len(lit), 0);
    EXPECT_EQ(str_len(variable(std::string(300, 'x'))), 300);
    EXPECT_TRUE(on_temp_list(t));
    EXPECT_TRUE(on_temp_list(lit));
    EXPECT_EQ(str_engine.free_count, 0);
}

// --- str_lset / str_rset ------------------------------------------------------------------------

TEST_F(str_justify, pads_and_truncates_into_the_current_length) {
    uint8_t storage[5];
    BasicString* fixed = str_new_fixed(storage, 5, false);
    str_lset(fixed, literal("ab"));
    EXPECT_EQ(text(fixed), "ab   ");
    str_rset(fixed, literal("ab"));
    EXPECT_EQ(text(fixed), "   ab");
    str_lset(fixed, literal("abcdefg"));
    EXPECT_EQ(text(fixed), "abcde");
    str_rset(fixed, literal("ABCDEFG"));
    EXPECT_EQ(text(fixed), "ABCDE"); // truncated on the right as well
    str_rset(fixed, literal(""));
    EXPECT_EQ(text(fixed), "     ");
    EXPECT_EQ(fixed->chars, storage);
    EXPECT_EQ(fixed->length, 5);

    BasicString* v = variable("1234");
    str_rset(v, literal("x"));
    EXPECT_EQ(text(v), "   x");
    str_lset(v, literal("yz"));
    EXPECT_EQ(text(v), "yz  ");
    EXPECT_EQ(str_temp_mark(), 1);
}

TEST_F(str_justify, temporary_source_is_freed_permanent_source_kept) {
    BasicString* target = variable(".....");
    BasicString* source = temporary("abc");
    str_rset(target, source);
    EXPECT_EQ(text(target), "  abc");
    EXPECT_TRUE(released(source));
    BasicString* kept = variable("k");
    str_lset(target, kept);
    EXPECT_EQ(text(target), "k    ");
    EXPECT_FALSE(released(kept));
}

TEST_F(str_justify, target_as_its_own_source_is_unchanged) {
    BasicString* v = variable("ab cd");
    str_lset(v, v);
    EXPECT_EQ(text(v), "ab cd");
    str_rset(v, v);
    EXPECT_EQ(text(v), "ab cd");
}

TEST_F(str_justify, does_nothing_while_an_error_is_pending) {
    BasicString* target = variable("abcd");
    error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
    BasicString* source = temporary("x");
    str_lset(target, source);
    str_rset(target, source);
    EXPECT_EQ(text(target), "abcd");
    EXPECT_TRUE(on_temp_list(source));
}

TEST_F(str_justify, never_writes_literal_storage) {
    char storage[] = "lit";
    BasicString* target = str_new_literal(storage, 3);
    str_lset(target, literal("x"));
    str_rset(target, literal("y"));
    EXPECT_STREQ(storage, "lit");
    EXPECT_EQ(str_temp_mark(), 2); // the sources were consumed, the target stays
}

// --- str_byte_word ------------------------------------------------------------------------------

TEST_F(str_byte_word_, low_byte_then_little_endian_word) {
    BasicString* s = str_byte_word(0x1FF, 0x12345);
    expect_new_temporary(s);
    EXPECT_EQ(text(s), "\xFF\x45\x23");
    EXPECT_EQ(text(str_byte_word(-1, -2)), "\xFF\xFE\xFF");
    EXPECT_EQ(text(str_byte_word(0, 0)), std::string(3, '\0'));
}

// --- Heap data moving under an operation --------------------------------------------------------

const std::string MOVING = "  abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRST  ";

TEST_F(str_ops_moving_heap, right_and_mid_copy_after_allocating) {
    ASSERT_EQ(MOVING.size(), 50u);
    BasicString* v = moving_variable(MOVING, 10);
    BasicString* r = str_mid(v, 1, 10, 1);
    expect_moved(v);
    EXPECT_EQ(text(r), "  abcdefgh");

    v = moving_variable(MOVING, 40);
    r = str_right(v, 40);
    expect_moved(v);
    EXPECT_EQ(text(r), "ijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRST  ");
}

TEST_F(str_ops_moving_heap, case_conversion_copies_after_allocating) {
    BasicString* v = moving_variable(MOVING, 50);
    BasicString* r = str_upper(v);
    expect_moved(v);
    EXPECT_EQ(text(r), "  ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNOPQRST  ");
    EXPECT_EQ(text(v), MOVING);

    v = moving_variable(MOVING, 50);
    r = str_lower(v);
    expect_moved(v);
    EXPECT_EQ(text(r), "  abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrst  ");
}

TEST_F(str_ops_moving_heap, trimming_copies_after_allocating) {
    BasicString* v = moving_variable(MOVING, 48);
    BasicString* r = str_ltrim(v);
    expect_moved(v);
    EXPECT_EQ(text(r), "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRST  ");

    v = moving_variable(MOVING, 48);
    r = str_rtrim(v);
    expect_moved(v);
    EXPECT_EQ(text(r), "  abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRST");
}

} // namespace
