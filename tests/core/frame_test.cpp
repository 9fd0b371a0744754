#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "runtime/base/error.h"
#include "runtime/base/run_state.h"
#include "runtime/core/frame.h"
#include "runtime/core/startup.h"
#include "runtime/memory/conv.h"
#include "runtime/platform/platform.h"
#include "runtime/strings/detail.h"
#include "runtime/strings/str.h"

namespace fs = std::filesystem;

namespace {

class FrameTest : public ::testing::Test {
  protected:
    void SetUp() override {
        run_state_reset();
        conv_memory_init();
        str_engine_reset();
        const char* argv[] = {"unveilo"};
        startup_strings(1, argv);
        const char* answer = std::getenv("UNVEILO_TEST_DIALOG_ANSWER");
        had_answer_ = answer != nullptr;
        if (answer) saved_answer_ = answer;
    }
    void TearDown() override {
        platform_setenv("UNVEILO_TEST_DIALOG_ANSWER",
                        had_answer_ ? saved_answer_.c_str() : nullptr);
        EXPECT_STREQ(str_check_invariants(), "");
    }
    static void answer(const char* value) { platform_setenv("UNVEILO_TEST_DIALOG_ANSWER", value); }

    // Two statement temporaries, as a statement that concatenates would leave them.
    static void make_temporaries() {
        str_new(5, true);
        str_new_cstring("literal");
    }

  private:
    bool had_answer_ = false;
    std::string saved_answer_;
};

// Waits until the program thread's park bit is set; false after five seconds.
bool wait_for_park() {
    for (int i = 0; i < 500; ++i) {
        if (run_state.parked_threads.load() & 1) return true;
        platform_sleep_ms(10);
    }
    return false;
}

TEST_F(FrameTest, frame_statement_nothing_flagged_only_frees_temporaries) {
    int32_t mark = str_temp_mark();
    make_temporaries();
    // An error recorded without the flag (never the case in practice) shows whether the frame
    // polls on its own: a poll would take it up and record the line.
    run_state.error_code.store(5);
    frame_statement(mark, 30);
    EXPECT_EQ(str_temp_mark(), mark);
    EXPECT_EQ(run_state.error_line.load(), 0u);
    EXPECT_EQ(run_state.error_code.load(), 5u);
}

TEST_F(FrameTest, frame_statement_reports_an_error_with_its_line) {
    answer("yes");
    int32_t mark = str_temp_mark();
    make_temporaries();
    error_raise(13);
    testing::internal::CaptureStderr();
    frame_statement(mark, 21);
    std::string shown = testing::internal::GetCapturedStderr();
    EXPECT_EQ(shown, "[dialog] Unhandled Error #13: Line:21\nType mismatch\nContinue?\n");
    EXPECT_EQ(str_temp_mark(), mark);
    EXPECT_EQ(run_state.error_code.load(), 0u);
    EXPECT_EQ(run_state.event_pending.load(), 0u);
}

TEST_F(FrameTest, frame_condition_value_decides_without_an_error) {
    int32_t mark = str_temp_mark();
    make_temporaries();
    EXPECT_FALSE(frame_condition(mark, 4, 0));
    EXPECT_EQ(str_temp_mark(), mark);
    make_temporaries();
    EXPECT_TRUE(frame_condition(mark, 4, -1));
    EXPECT_EQ(str_temp_mark(), mark);
    EXPECT_TRUE(frame_condition(mark, 4, 7));
}

TEST_F(FrameTest, frame_condition_error_enters_then_after_the_dialog) {
    answer("yes");
    int32_t mark = str_temp_mark();
    error_raise(5);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(frame_condition(mark, 8, 0));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(run_state.error_line.load(), 8u);
    EXPECT_EQ(run_state.error_code.load(), 0u);
}

TEST_F(FrameTest, frame_loop_head_polls_only_when_flagged) {
    answer("yes");
    run_state.error_code.store(6);
    frame_loop_head(2);
    EXPECT_EQ(run_state.error_line.load(), 0u);
    run_state.event_pending.store(1);
    testing::internal::CaptureStderr();
    frame_loop_head(2);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(run_state.error_line.load(), 2u);
    EXPECT_EQ(run_state.error_code.load(), 0u);
}

TEST_F(FrameTest, event_poll_clears_the_flag_and_leaves_no_error) {
    run_state.event_pending.store(1);
    event_poll(3);
    EXPECT_EQ(run_state.event_pending.load(), 0u);
    EXPECT_EQ(run_state.error_line.load(), 0u);
    EXPECT_EQ(run_state.parked_threads.load(), 0u);
}

TEST_F(FrameTest, event_poll_holds_while_paused) {
    run_state.pause_state.store(1);
    run_state.event_pending.store(1);
    std::atomic<bool> released{false};
    std::thread key_press([&released] {
        platform_sleep_ms(60);
        released.store(true);
        run_state.pause_state.store(0);
    });
    event_poll(5);
    EXPECT_TRUE(released.load());
    key_press.join();
}

TEST_F(FrameTest, event_poll_stop_request_parks) {
    run_state.stop_requested.store(1);
    run_state.event_pending.store(1);
    auto returned = std::make_shared<std::atomic<bool>>(false);
    std::thread([returned] {
        event_poll(6);
        returned->store(true);
    }).detach();
    ASSERT_TRUE(wait_for_park());
    platform_sleep_ms(20);
    EXPECT_FALSE(returned->load());
}

TEST_F(FrameTest, event_poll_stop_request_parks_even_while_paused) {
    run_state.pause_state.store(1);
    run_state.stop_requested.store(1);
    std::thread([] { event_poll(6); }).detach();
    ASSERT_TRUE(wait_for_park());
}

TEST_F(FrameTest, program_enter_returns_the_temporaries_mark) {
    make_temporaries();
    int32_t expected = str_temp_mark();
    EXPECT_EQ(program_enter(), expected);
    EXPECT_EQ(str_temp_mark(), expected);
}

TEST_F(FrameTest, program_enter_floating_point_signal_is_critical) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    answer("ok");
    EXPECT_EXIT(program_run([] {
                    program_enter();
                    std::raise(SIGFPE);
                }),
                testing::ExitedWithCode(0), "^\\[dialog\\] Critical Error: Division by zero\r?\n$");
}

// A real integer division by zero: returning from the signal would run the division again, so
// only the jump back to the program thread's guard can end it. The sanitizers' own check of the
// division is switched off here, so that the hardware fault is what happens.
__attribute__((no_sanitize("undefined"))) int32_t divide(int32_t a, int32_t b) {
    return a / b;
}
volatile int32_t dividend = 1000;
volatile int32_t zero_divisor = 0;

TEST_F(FrameTest, program_enter_hardware_division_fault_is_critical) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    answer("ok");
    EXPECT_EXIT(program_run([] {
                    program_enter();
                    std::printf("%d", divide(dividend, zero_divisor));
                }),
                testing::ExitedWithCode(0), "^\\[dialog\\] Critical Error: Division by zero\r?\n$");
}

TEST_F(FrameTest, program_run_returns_when_the_program_does) {
    static std::atomic<int> runs{0};
    runs = 0;
    program_run([] { runs.fetch_add(1); });
    EXPECT_EQ(runs.load(), 1);
}

// --- Chained start ----------------------------------------------------------------------------

class ChainTest : public FrameTest {
  protected:
    void SetUp() override {
        FrameTest::SetUp();
        saved_cwd_ = fs::current_path();
        std::random_device random;
        dir_ = fs::temp_directory_path() / ("unveilo-chain-" + std::to_string(random()));
        fs::create_directories(dir_ / "target");
        fs::current_path(dir_);
    }
    void TearDown() override {
        fs::current_path(saved_cwd_);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
        FrameTest::TearDown();
    }

    static void set_command_line(const std::string& text) {
        str_set(command_line, str_new_literal(text.data(), int32_t(text.size())));
    }
    static std::string command_line_text() {
        return std::string(reinterpret_cast<const char*>(command_line->chars),
                           size_t(command_line->length));
    }
    // The state file: a value the reader skips, the directory's length and its bytes, then
    // whatever follows.
    static void write_state(const std::string& name, int32_t length, const std::string& bytes,
                            const std::string& tail = "") {
        std::ofstream out(name, std::ios::binary);
        int32_t header[2] = {0x12345678, length};
        out.write(reinterpret_cast<const char*>(header), sizeof header);
        out.write(bytes.data(), std::streamsize(bytes.size()));
        out.write(tail.data(), std::streamsize(tail.size()));
    }
    bool still_in_start_dir() const { return fs::equivalent(fs::current_path(), dir_); }

    fs::path saved_cwd_;
    fs::path dir_;
};

TEST_F(ChainTest, chain_input_tagged_start_changes_directory) {
    std::string target = (dir_ / "target").string();
    write_state("chain001.tmp", int32_t(target.size()), target, std::string(64, '\x7f'));
    set_command_line("a b (unique-tag:=/@*$+-)chain001.tmp");
    chain_input();
    EXPECT_TRUE(fs::equivalent(fs::current_path(), dir_ / "target"));
    EXPECT_FALSE(fs::exists(dir_ / "chain001.tmp"));
    EXPECT_EQ(command_line_text(), "a b");
}

TEST_F(ChainTest, chain_input_tag_alone_leaves_an_empty_command_line) {
    std::string target = (dir_ / "target").string();
    write_state("chain777.tmp", int32_t(target.size()), target);
    set_command_line("(unique-tag:=/@*$+-)chain777.tmp");
    chain_input();
    EXPECT_TRUE(fs::equivalent(fs::current_path(), dir_ / "target"));
    EXPECT_EQ(command_line_text(), "");
}

TEST_F(ChainTest, chain_input_program_enter_runs_the_check) {
    std::string target = (dir_ / "target").string();
    write_state("chain002.tmp", int32_t(target.size()), target);
    set_command_line("x (unique-tag:=/@*$+-)chain002.tmp");
    program_enter();
    EXPECT_TRUE(fs::equivalent(fs::current_path(), dir_ / "target"));
    EXPECT_EQ(command_line_text(), "x");
}

TEST_F(ChainTest, chain_input_look_alikes_are_ordinary_arguments) {
    std::string target = (dir_ / "target").string();
    // 31 characters: the tag with an 11-character name. Its last 12 characters name a valid
    // state file, so only the length test can turn it away.
    const std::string short_line = "(unique-tag:=/@*$+-)chain01.tmp";
    ASSERT_EQ(short_line.size(), 31u);
    write_state(")chain01.tmp", int32_t(target.size()), target);
    const std::string others[] = {
        short_line,
        "a (unique-tag:=/@*$+-)chain001.txt", // not .tmp
        "a (unique-tag:=/@*$+_)chain001.tmp", // tag differs in its last character
        "a (unique-tag:=/@*$+-)chair001.tmp", // name does not begin with "chain"
        "a  unique-tag:=/@*$+-)chain001.tmp",
    };
    write_state("chain001.tmp", int32_t(target.size()), target);
    write_state("chair001.tmp", int32_t(target.size()), target);
    for (const std::string& line : others) {
        set_command_line(line);
        chain_input();
        EXPECT_EQ(command_line_text(), line);
        EXPECT_TRUE(still_in_start_dir()) << line;
    }
    EXPECT_TRUE(fs::exists(dir_ / ")chain01.tmp"));
    EXPECT_TRUE(fs::exists(dir_ / "chain001.tmp"));
}

TEST_F(ChainTest, chain_input_oversized_directory_is_refused) {
    // The length is believed by nothing: 100 000 bytes follow it, enough to run far past any
    // fixed buffer that trusted it.
    write_state("chain003.tmp", 100000, std::string(100000, 'x'));
    set_command_line("a b (unique-tag:=/@*$+-)chain003.tmp");
    chain_input();
    EXPECT_TRUE(still_in_start_dir());
    EXPECT_TRUE(fs::exists(dir_ / "chain003.tmp"));
    EXPECT_EQ(command_line_text(), "a b");
}

TEST_F(ChainTest, chain_input_limit_is_inclusive) {
    // A directory of exactly the buffer's size is accepted (and then fails to exist).
    write_state("chain004.tmp", CHAIN_DIRECTORY_MAX, std::string(size_t(CHAIN_DIRECTORY_MAX), 'q'));
    set_command_line("(unique-tag:=/@*$+-)chain004.tmp");
    chain_input();
    EXPECT_FALSE(fs::exists(dir_ / "chain004.tmp"));
    EXPECT_TRUE(still_in_start_dir());

    write_state("chain005.tmp", CHAIN_DIRECTORY_MAX + 1,
                std::string(size_t(CHAIN_DIRECTORY_MAX) + 1, 'q'));
    set_command_line("(unique-tag:=/@*$+-)chain005.tmp");
    chain_input();
    EXPECT_TRUE(fs::exists(dir_ / "chain005.tmp"));
}

TEST_F(ChainTest, chain_input_negative_length_is_refused) {
    write_state("chain006.tmp", -1, "whatever");
    set_command_line("z (unique-tag:=/@*$+-)chain006.tmp");
    chain_input();
    EXPECT_TRUE(still_in_start_dir());
    EXPECT_TRUE(fs::exists(dir_ / "chain006.tmp"));
    EXPECT_EQ(command_line_text(), "z");
}

TEST_F(ChainTest, chain_input_truncated_file_is_refused) {
    std::string target = (dir_ / "target").string();
    write_state("chain007.tmp", int32_t(target.size()) + 10, target);
    set_command_line("a b (unique-tag:=/@*$+-)chain007.tmp");
    chain_input();
    EXPECT_TRUE(still_in_start_dir());
    EXPECT_TRUE(fs::exists(dir_ / "chain007.tmp"));
    EXPECT_EQ(command_line_text(), "a b");

    {
        std::ofstream header_only("chain008.tmp", std::ios::binary);
        header_only.write("\1\2\3\4\5", 5);
    }
    set_command_line("a b (unique-tag:=/@*$+-)chain008.tmp");
    chain_input();
    EXPECT_TRUE(still_in_start_dir());
    EXPECT_TRUE(fs::exists(dir_ / "chain008.tmp"));
}

TEST_F(ChainTest, chain_input_missing_state_file_only_cuts_the_tag) {
    set_command_line("a b (unique-tag:=/@*$+-)chain009.tmp");
    chain_input();
    EXPECT_TRUE(still_in_start_dir());
    EXPECT_EQ(command_line_text(), "a b");
}

} // namespace

// --- Printing through a sink ---------------------------------------------------------------------

namespace {

struct RecordingSink {
    std::string log;
    static void put(void* context, BasicString* s, int32_t end_line) {
        auto* self = static_cast<RecordingSink*>(context);
        self->log += "put(" +
                     std::string(reinterpret_cast<const char*>(s->chars), size_t(s->length)) + "," +
                     std::to_string(end_line) + ")";
    }
    static void fit(void* context, BasicString* s) {
        static_cast<RecordingSink*>(context)->log += "fit(" + std::to_string(s->length) + ")";
    }
    static void zone(void* context) { static_cast<RecordingSink*>(context)->log += "zone"; }
    StrSink sink() { return StrSink{put, fit, zone, this}; }
};

} // namespace

TEST_F(FrameTest, frame_print_item_and_end_go_to_the_sink_named) {
    RecordingSink recorder;
    int32_t mark = str_temp_mark();
    EXPECT_TRUE(frame_print_item(str_new_cstring("abc"), recorder.sink()));
    frame_print_end(mark, 1, true, recorder.sink());
    EXPECT_EQ(recorder.log, "fit(3)put(abc,0)put(,1)");
}

TEST_F(FrameTest, frame_print_item_skips_the_sink_once_an_error_is_pending) {
    RecordingSink recorder;
    int32_t mark = str_temp_mark();
    error_raise(5);
    EXPECT_FALSE(frame_print_item(str_new_cstring("abc"), recorder.sink()));
    run_state.error_code.store(0);
    run_state.event_pending.store(0);
    frame_print_end(mark, 1, false, recorder.sink());
    EXPECT_EQ(recorder.log, "");
}
