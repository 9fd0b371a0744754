#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "runtime/base/error.h"
#include "runtime/base/run_state.h"
#include "runtime/core/frame.h"
#include "runtime/platform/platform.h"

namespace {

// Every test answers its boxes through UNVEILO_TEST_DIALOG_ANSWER; the fixture puts back the
// answer the test run started with.
class ErrorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        run_state_reset();
        const char* answer = std::getenv("UNVEILO_TEST_DIALOG_ANSWER");
        had_answer_ = answer != nullptr;
        if (answer) saved_answer_ = answer;
    }
    void TearDown() override {
        platform_setenv("UNVEILO_TEST_DIALOG_ANSWER",
                        had_answer_ ? saved_answer_.c_str() : nullptr);
    }
    static void answer(const char* value) { platform_setenv("UNVEILO_TEST_DIALOG_ANSWER", value); }

    // Runs the poll of `line` on the caller's thread and returns what the dialog echoed.
    static std::string report_after(uint32_t line) {
        testing::internal::CaptureStderr();
        event_poll(line);
        return testing::internal::GetCapturedStderr();
    }

    // Parking never returns: run the poll on a thread of its own and wait for its park bit.
    static bool poll_parks(uint32_t line) {
        // Shared, so that a poll that wrongly returns late still writes to live memory.
        auto returned = std::make_shared<std::atomic<bool>>(false);
        std::thread([line, returned] {
            event_poll(line);
            returned->store(true); // unreachable when the poll parks
        }).detach();
        for (int i = 0; i < 1000; ++i) {
            if (run_state.parked_threads.load() & 1) return !returned->load();
            platform_sleep_ms(10);
        }
        return false;
    }

  private:
    bool had_answer_ = false;
    std::string saved_answer_;
};

using ErrorDeathTest = ErrorTest;

TEST_F(ErrorTest, error_raise_first_error_of_a_statement_wins) {
    EXPECT_EQ(error_raise(53), 53u);
    EXPECT_EQ(error_raise(5), 53u);
    EXPECT_EQ(error_raise(0), 53u);
    EXPECT_EQ(run_state.error_code.load(), 53u);
    EXPECT_EQ(run_state.event_pending.load(), 1u);
}

TEST_F(ErrorTest, error_raise_zero_or_negative_records_illegal_function_call) {
    EXPECT_EQ(error_raise(0), 5u);
    EXPECT_EQ(run_state.error_code.load(), 5u);
    run_state_reset();
    EXPECT_EQ(error_raise(-7), 5u);
    EXPECT_EQ(run_state.error_code.load(), 5u);
    EXPECT_EQ(run_state.event_pending.load(), 1u);
}

TEST_F(ErrorTest, error_raise_non_critical_runtime_conditions_are_recorded) {
    // 258 and 262 lie among the critical run-time conditions but are ordinary errors.
    EXPECT_EQ(error_raise(258), 258u);
    run_state_reset();
    EXPECT_EQ(error_raise(262), 262u);
    run_state_reset();
    EXPECT_EQ(error_raise(313), 313u);
}

TEST(error_message, table_texts) {
    EXPECT_STREQ(error_message(1), "NEXT without FOR");
    EXPECT_STREQ(error_message(5), "Illegal function call");
    EXPECT_STREQ(error_message(6), "Overflow");
    EXPECT_STREQ(error_message(53), "File not found");
    EXPECT_STREQ(error_message(69), "Communication-buffer overflow");
    EXPECT_STREQ(error_message(75), "Path/File access error");
    EXPECT_STREQ(error_message(76), "Path not found");
    EXPECT_STREQ(error_message(258), "Invalid handle");
    EXPECT_STREQ(error_message(262), "Function unavailable in NUVELA");
    EXPECT_STREQ(error_message(304), "Source and destination memory regions out of range");
    EXPECT_STREQ(error_message(313), "Source and destination memory have been freed");
}

TEST(error_message, codes_outside_the_table) {
    for (ErrorCode code : {0u, 11u, 15u, 28u, 77u, 256u, 299u, 314u, 400u, 505u})
        EXPECT_EQ(error_message(code), nullptr) << code;
}

TEST(error_is_critical, critical_and_ordinary_codes) {
    for (int32_t code : {11, 256, 257, 259, 260, 261, 263, 270, 271, 502, 510, 518})
        EXPECT_TRUE(error_is_critical(code)) << code;
    for (int32_t code : {0, 5, 10, 12, 255, 258, 262, 264, 269, 272, 300, 313, 501, 519, -11})
        EXPECT_FALSE(error_is_critical(code)) << code;
}

// Each name stands in the header's group that matches what error_raise does with its number.
TEST(error_is_critical, header_groups_match_the_table) {
    struct Case {
        ErrorCode code;
        bool critical;
    } const cases[] = {
        {ERROR_ILLEGAL_FUNCTION_CALL, false}, {ERROR_OUT_OF_STRING_SPACE, false},
        {ERROR_BAD_FILE_NAME, false},         {ERROR_PATH_NOT_FOUND, false},
        {ERROR_INVALID_HANDLE, false},        {ERROR_UNAVAILABLE_HOSTED, false},
        {ERROR_DIVISION_BY_ZERO, true},       {ERROR_CRITICAL_STACK_SPACE, true},
        {ERROR_PATH_ILLEGAL_HOSTED, true},    {ERROR_CRITICAL_IMAGE_TABLE, true},
        {ERROR_CRITICAL_HEAP_LIST, true},     {ERROR_CRITICAL_RECEIVE_BUFFER, true},
    };
    for (const Case& c : cases) EXPECT_EQ(error_is_critical(int32_t(c.code)), c.critical) << c.code;
}

TEST_F(ErrorTest, error_report_yes_continues_and_clears_the_error) {
    answer("yes");
    error_raise(0);
    std::string shown = report_after(12);
    EXPECT_EQ(shown, "[dialog] Unhandled Error #5: Line:12\nIllegal function call\nContinue?\n");
    EXPECT_EQ(run_state.error_code.load(), 0u);
    EXPECT_EQ(run_state.error_line.load(), 12u);
    EXPECT_EQ(run_state.event_pending.load(), 0u);
    EXPECT_EQ(run_state.end_requested.load(), 0u);
    // The next statement's error is reported again.
    error_raise(53);
    EXPECT_EQ(report_after(13),
              "[dialog] Unhandled Error #53: Line:13\nFile not found\nContinue?\n");
}

TEST_F(ErrorTest, error_report_unknown_code_is_unprintable) {
    answer("yes");
    error_raise(400);
    EXPECT_EQ(report_after(3),
              "[dialog] Unhandled Error #400: Line:3\nUnprintable error\nContinue?\n");
    EXPECT_EQ(run_state.error_code.load(), 0u);
}

TEST_F(ErrorTest, error_report_only_the_first_error_is_shown) {
    answer("yes");
    error_raise(6);
    error_raise(53);
    EXPECT_EQ(report_after(40), "[dialog] Unhandled Error #6: Line:40\nOverflow\nContinue?\n");
}

TEST_F(ErrorTest, error_report_no_ends_and_parks) {
    answer("no");
    error_raise(53);
    ASSERT_TRUE(poll_parks(9));
    EXPECT_EQ(run_state.end_requested.load(), 1u);
    EXPECT_EQ(run_state.error_code.load(), 53u);
    EXPECT_EQ(run_state.error_line.load(), 9u);
}

TEST_F(ErrorTest, error_report_ok_on_a_yes_no_box_counts_as_no) {
    answer("ok");
    error_raise(5);
    ASSERT_TRUE(poll_parks(10));
    EXPECT_EQ(run_state.end_requested.load(), 1u);
}

TEST_F(ErrorDeathTest, error_report_memory_block_error_is_critical) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    answer("yes"); // an OK box takes OK whatever the answer
    error_raise(305);
    EXPECT_EXIT(event_poll(7), testing::ExitedWithCode(0),
                "^\\[dialog\\] Critical Error #305: Line:7\r?\nSource memory has been freed\r?\n$");
}

TEST_F(ErrorDeathTest, error_raise_critical_codes_show_their_box_and_exit) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    answer("no");
    struct Case {
        int32_t code;
        const char* pattern;
    };
    const Case cases[] = {
        {504, "^\\[dialog\\] Critical Error #4: Out of memory\r?\n$"},
        {505, "^\\[dialog\\] Critical Error #5: Out of memory\r?\n$"},
        {515, "^\\[dialog\\] Critical Error #15: Out of memory\r?\n$"},
        {518, "^\\[dialog\\] Critical Error #18: Out of memory\r?\n$"},
        {257, "^\\[dialog\\] Critical Error #1: Out of memory\r?\n$"},
        {11, "^\\[dialog\\] Critical Error: Division by zero\r?\n$"},
        {256, "^\\[dialog\\] Critical Error: Out of stack space\r?\n$"},
        {261, "^\\[dialog\\] Critical Error: Sub/Function does not exist in dynamic library\r?\n$"},
        {271, "^\\[dialog\\] Critical Error: END/SYSTEM called within SUB _GL's scope\r?\n$"},
    };
    for (const Case& c : cases) {
        EXPECT_EXIT(error_raise(c.code), testing::ExitedWithCode(0), c.pattern) << c.code;
    }
}

TEST_F(ErrorDeathTest, error_raise_critical_even_while_an_error_is_pending) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    answer("ok");
    error_raise(5);
    EXPECT_EXIT(error_raise(507), testing::ExitedWithCode(0),
                "^\\[dialog\\] Critical Error #7: Out of memory\r?\n$");
}

} // namespace

namespace {

// Every number the families raise by name is in the table, with the kind its name promises.
TEST(error_table, named_codes_are_in_the_table) {
    for (ErrorCode code : {ERROR_ILLEGAL_FUNCTION_CALL, ERROR_OVERFLOW, ERROR_OUT_OF_STRING_SPACE,
                           ERROR_INVALID_HANDLE}) {
        EXPECT_NE(error_message(code), nullptr) << code;
        EXPECT_FALSE(error_is_critical(int32_t(code))) << code;
    }
    for (ErrorCode code :
         {ERROR_DIVISION_BY_ZERO, ERROR_CRITICAL_STACK_SPACE, ERROR_CRITICAL_IMAGE_TABLE,
          ERROR_CRITICAL_IMAGE_FREE_LIST, ERROR_CRITICAL_STRING_SCRATCH, ERROR_CRITICAL_BLOCK_SIZE,
          ERROR_CRITICAL_BLOCK_NO_SPACE, ERROR_CRITICAL_BLOCK_NO_RECORD, ERROR_CRITICAL_FREE_STACK,
          ERROR_CRITICAL_SEGMENT_LIST, ERROR_CRITICAL_HEAP_LIST, ERROR_CRITICAL_TEMP_LIST,
          ERROR_CRITICAL_HEAP, ERROR_CRITICAL_SEGMENT_FULL, ERROR_CRITICAL_SEGMENT_ENTRY,
          ERROR_CRITICAL_FIXED_SEGMENT_ENTRY}) {
        EXPECT_TRUE(error_is_critical(int32_t(code))) << code;
        EXPECT_EQ(error_message(code), nullptr) << code;
    }
}

TEST(error_critical, shows_the_box_and_exits_even_without_a_table_entry) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    platform_setenv("UNVEILO_TEST_DIALOG_ANSWER", "ok");
    EXPECT_EXIT(error_critical(ERROR_CRITICAL_HEAP), testing::ExitedWithCode(0),
                "^\\[dialog\\] Critical Error #12: Out of memory\r?\n$");
    EXPECT_EXIT(error_critical(600), testing::ExitedWithCode(0),
                "^\\[dialog\\] Critical Error #100: Out of memory\r?\n$");
}

} // namespace
