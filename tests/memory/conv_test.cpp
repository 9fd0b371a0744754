#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "runtime/base/run_state.h"
#include "runtime/memory/conv.h"
#include "runtime/memory/detail.h"
#include "runtime/platform/platform.h"

namespace {

class ConvTest : public ::testing::Test {
  protected:
    void SetUp() override {
        run_state_reset();
        conv_memory_init();
    }
    void TearDown() override {
        if (changed_answer_)
            platform_setenv("UNVEILO_TEST_DIALOG_ANSWER",
                            had_answer_ ? saved_answer_.c_str() : nullptr);
    }
    // Critical errors end the process after their box; the scripted answer closes it.
    void answer_boxes() {
        const char* answer = std::getenv("UNVEILO_TEST_DIALOG_ANSWER");
        had_answer_ = answer != nullptr;
        if (answer) saved_answer_ = answer;
        changed_answer_ = true;
        platform_setenv("UNVEILO_TEST_DIALOG_ANSWER", "ok");
    }
    static uint32_t linear(const uint8_t* p) { return uint32_t(p - conv_memory); }

  private:
    bool changed_answer_ = false;
    bool had_answer_ = false;
    std::string saved_answer_;
};

using ConvDeathTest = ConvTest;

TEST_F(ConvTest, conv_memory_init_zeroes_everything_again) {
    conv_memory[0] = 1;
    conv_memory[CONV_MEMORY_SIZE - 1] = 2;
    conv_state.side_table[65535] = 3;
    def_segment(0xB800, 1);
    conv_block_alloc(100);
    conv_memory_init();
    EXPECT_EQ(conv_memory[0], 0);
    EXPECT_EQ(conv_memory[CONV_MEMORY_SIZE - 1], 0);
    ASSERT_EQ(conv_state.side_table.size(), 65536u);
    EXPECT_EQ(conv_state.side_table[65535], 0);
    EXPECT_EQ(conv_state.current_segment, DATA_SEGMENT_BASE);
    EXPECT_EQ(conv_state.block_list, -1);
    EXPECT_EQ(linear(conv_block_alloc(1)), 0x9FFF0u);
}

TEST_F(ConvTest, peek_byte_default_segment_is_the_data_segment) {
    conv_memory[0x500] = 0x5A;
    conv_memory[0x501] = 0x33;
    EXPECT_EQ(peek_byte(0), 0x5A);
    EXPECT_EQ(peek_byte(1), 0x33);
}

TEST_F(ConvTest, poke_byte_negative_segment_reaches_text_video_memory) {
    def_segment(-18432, 1); // 0xB800
    poke_byte(0, 65);
    poke_byte(1, 0x1F7); // only the low byte is stored
    EXPECT_EQ(conv_memory[TEXT_VIDEO_BASE], 'A');
    EXPECT_EQ(conv_memory[TEXT_VIDEO_BASE + 1], 0xF7);
    EXPECT_EQ(peek_byte(0), 'A');
    EXPECT_EQ(run_state.error_code.load(), 0u);
}

TEST_F(ConvTest, peek_byte_bios_data_area) {
    conv_memory[BIOS_KEYBOARD_FLAGS_1] = 0x20;
    def_segment(0, 1);
    EXPECT_EQ(peek_byte(1047), 0x20);
    def_segment(0, 0); // back to the default segment
    EXPECT_EQ(peek_byte(1047), conv_memory[0x500 + 1047]);
    EXPECT_EQ(conv_state.current_segment, DATA_SEGMENT_BASE);
}

TEST_F(ConvTest, peek_byte_offset_range) {
    conv_memory[0x500 + 0xFFFF] = 0x77;
    conv_memory[0x500] = 0x11;
    EXPECT_EQ(peek_byte(-1), 0x77);
    EXPECT_EQ(peek_byte(65535), 0x77);
    EXPECT_EQ(peek_byte(-65536), 0x11);
    EXPECT_EQ(run_state.error_code.load(), 0u);

    EXPECT_EQ(peek_byte(65536), 0);
    EXPECT_EQ(run_state.error_code.load(), 6u);
    EXPECT_EQ(run_state.event_pending.load(), 1u);
}

TEST_F(ConvTest, peek_byte_runs_while_an_error_is_pending) {
    conv_memory[0x500 + 4] = 9;
    run_state.error_code.store(53);
    EXPECT_EQ(peek_byte(4), 9);
    EXPECT_EQ(peek_byte(-65537), 0);
    EXPECT_EQ(run_state.error_code.load(), 53u); // the first error stays
}

TEST_F(ConvTest, highest_segment_and_offset_stay_inside_the_array) {
    def_segment(65535, 1);
    poke_byte(65535, 0xAB);
    EXPECT_EQ(conv_memory[0x10FFEF], 0xAB);
    EXPECT_EQ(peek_byte(-1), 0xAB);
}

TEST_F(ConvTest, def_segment_out_of_range_is_overflow_and_changes_nothing) {
    def_segment(0x1000, 1);
    def_segment(65536, 1);
    EXPECT_EQ(run_state.error_code.load(), 6u);
    EXPECT_EQ(conv_state.current_segment, 0x10000u);
    run_state_reset();
    def_segment(-65537, 1);
    EXPECT_EQ(run_state.error_code.load(), 6u);
    run_state_reset();
    def_segment(-65536, 1); // low 16 bits: segment 0
    EXPECT_EQ(conv_state.current_segment, 0u);
}

TEST_F(ConvTest, statements_do_nothing_while_an_error_is_pending) {
    run_state.error_code.store(5);
    def_segment(0xB800, 1);
    EXPECT_EQ(conv_state.current_segment, DATA_SEGMENT_BASE);
    poke_byte(0, 65);
    EXPECT_EQ(conv_memory[0x500], 0);
    poke_byte(70000, 1);
    EXPECT_EQ(run_state.error_code.load(), 5u);
}

TEST_F(ConvTest, poke_byte_out_of_range_is_overflow) {
    poke_byte(65536, 1);
    EXPECT_EQ(run_state.error_code.load(), 6u);
    EXPECT_EQ(conv_memory[0x500], 0);
}

TEST_F(ConvTest, conv_block_alloc_from_the_top) {
    uint8_t* one = conv_block_alloc(1);
    EXPECT_EQ(linear(one), 0x9FFF0u);
    conv_block_free(one);
    EXPECT_EQ(linear(conv_block_alloc(1)), 0x9FFF0u);
    // Sizes round up to whole paragraphs.
    EXPECT_EQ(linear(conv_block_alloc(16)), 0x9FFE0u);
    EXPECT_EQ(linear(conv_block_alloc(17)), 0x9FFC0u);
    EXPECT_EQ(linear(conv_block_alloc(65536)), 0x8FFC0u);
}

TEST_F(ConvTest, conv_block_alloc_zero_size_takes_nothing) {
    uint8_t* none = conv_block_alloc(0);
    EXPECT_EQ(linear(none), CONV_BLOCK_HIGH);
    conv_block_free(none);
    EXPECT_EQ(conv_state.block_list, -1);
    EXPECT_EQ(conv_state.records_issued, 0);
    EXPECT_EQ(linear(conv_block_alloc(32)), 0x9FFE0u);
}

TEST_F(ConvTest, conv_block_alloc_first_fit_reuses_gaps) {
    uint8_t* a = conv_block_alloc(0x100); // 0x9FF00
    uint8_t* b = conv_block_alloc(0x200); // 0x9FD00
    uint8_t* c = conv_block_alloc(0x100); // 0x9FC00
    EXPECT_EQ(linear(c), 0x9FC00u);
    conv_block_free(b);
    // Too big for the gap: goes below the lowest block.
    EXPECT_EQ(linear(conv_block_alloc(0x300)), 0x9F900u);
    // Fits: takes the top of the gap, the first fit found from above.
    uint8_t* d = conv_block_alloc(0x80);
    EXPECT_EQ(linear(d), 0x9FE80u);
    EXPECT_EQ(linear(conv_block_alloc(0x180)), 0x9FD00u);
    // The gap is now full; the freed top block's space is reused next.
    conv_block_free(a);
    EXPECT_EQ(linear(conv_block_alloc(0x10)), 0x9FFF0u);
    // The list stays in descending order.
    uint32_t previous = CONV_BLOCK_HIGH;
    for (int32_t r = conv_state.block_list; r != -1; r = conv_state.records[r].next) {
        EXPECT_LE(conv_state.records[r].end, previous);
        EXPECT_EQ(conv_state.records[r].end - conv_state.records[r].start,
                  conv_state.records[r].size);
        previous = conv_state.records[r].start;
    }
}

TEST_F(ConvTest, conv_block_free_reuses_records_last_in_first_out) {
    conv_block_alloc(16);
    uint8_t* b = conv_block_alloc(16);
    uint8_t* c = conv_block_alloc(16);
    EXPECT_EQ(conv_state.records_issued, 3);
    conv_block_free(b); // record 1
    conv_block_free(c); // record 2
    conv_block_alloc(16);
    EXPECT_EQ(conv_state.records_issued, 3);
    conv_block_alloc(16);
    conv_block_alloc(16);
    EXPECT_EQ(conv_state.records_issued, 4);
}

TEST_F(ConvTest, conv_block_free_ignores_unknown_pointers) {
    uint8_t* a = conv_block_alloc(64);
    conv_block_free(nullptr);
    conv_block_free(a + 16); // inside a block, not its start
    conv_block_free(conv_memory + 0x50000);
    uint8_t outside = 0;
    conv_block_free(&outside);
    EXPECT_EQ(linear(conv_block_alloc(16)), linear(a) - 16);
    conv_block_free(a);
    conv_block_free(a); // twice: the second finds nothing
    EXPECT_EQ(linear(conv_block_alloc(64)), linear(a));
}

TEST_F(ConvTest, conv_block_alloc_fills_the_area_exactly) {
    // 0x8FB00 bytes: eight full 64 KB blocks and one of 0xFB00.
    for (int i = 0; i < 8; ++i) conv_block_alloc(65536);
    EXPECT_EQ(linear(conv_block_alloc(0xFB00)), CONV_BLOCK_LOW);
}

TEST_F(ConvDeathTest, conv_block_alloc_limits_are_critical) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    answer_boxes();
    EXPECT_EXIT(conv_block_alloc(65537), testing::ExitedWithCode(0),
                "^\\[dialog\\] Critical Error #5: Out of memory\r?\n$");
    EXPECT_EXIT(
        {
            for (int i = 0; i < 8; ++i) conv_block_alloc(65536);
            conv_block_alloc(0xFB00 + 1);
        },
        testing::ExitedWithCode(0), "^\\[dialog\\] Critical Error #6: Out of memory\r?\n$");
    EXPECT_EXIT(
        {
            conv_state.record_limit = 2;
            conv_block_alloc(16);
            conv_block_free(conv_block_alloc(16));
            conv_block_alloc(16); // the freed record
            conv_block_alloc(16);
        },
        testing::ExitedWithCode(0), "^\\[dialog\\] Critical Error #7: Out of memory\r?\n$");
}

} // namespace
