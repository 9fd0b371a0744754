#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/base/run_state.h"
#include "runtime/core/startup.h"
#include "runtime/memory/conv.h"
#include "runtime/platform/platform.h"
#include "runtime/strings/detail.h"
#include "runtime/strings/str.h"

namespace {

class StartupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        run_state_reset();
        conv_memory_init();
        str_engine_reset();
    }
    void TearDown() override { EXPECT_STREQ(str_check_invariants(), ""); }

    static std::string text(const BasicString* s) {
        return std::string(reinterpret_cast<const char*>(s->chars), size_t(s->length));
    }
};

TEST_F(StartupTest, startup_strings_no_arguments_give_an_empty_command_line) {
    const char* argv[] = {"unveilo.exe"};
    startup_strings(1, argv);
    ASSERT_NE(command_line, nullptr);
    EXPECT_EQ(command_line->length, 0);
    EXPECT_FALSE(command_line->is_temporary);
    EXPECT_FALSE(command_line->in_segment);
}

TEST_F(StartupTest, startup_strings_arguments_joined_by_single_spaces) {
    const char* argv[] = {"unveilo.exe", "first", "second part"};
    startup_strings(3, argv);
    EXPECT_EQ(text(command_line), "first second part");

    str_engine_reset();
    const char* more[] = {"unveilo.exe", "", "x", "", "y z"};
    startup_strings(5, more);
    EXPECT_EQ(text(command_line), " x  y z");
}

TEST_F(StartupTest, startup_strings_without_argument_vector) {
    startup_strings(0, nullptr);
    EXPECT_EQ(command_line->length, 0);
}

TEST_F(StartupTest, startup_strings_permanent_strings) {
    const char* argv[] = {"unveilo.exe", "arg"};
    startup_strings(2, argv);

    EXPECT_EQ(str_shared_empty->length, 0);
    EXPECT_TRUE(str_shared_empty->in_segment);
    EXPECT_FALSE(str_shared_empty->is_temporary);
    EXPECT_NE(str_shared_empty->segment_entry, nullptr);

    EXPECT_EQ(text(str_one_space), " ");
    EXPECT_TRUE(str_one_space->in_segment);
    EXPECT_FALSE(str_one_space->is_temporary);
    EXPECT_NE(str_one_space->segment_entry, nullptr);

    EXPECT_GT(machine_code_message->length, 0);
    EXPECT_FALSE(machine_code_message->in_segment);
    EXPECT_FALSE(machine_code_message->is_temporary);

    // None of them is a statement temporary.
    EXPECT_EQ(str_temp_mark(), 1);
}

TEST_F(StartupTest, startup_strings_top_of_the_data_segment_is_reserved_and_zero) {
    uint8_t* segment = str_segment_start();
    std::memset(segment + DATA_SEGMENT_SIZE - 16, 0xEE, 16);
    const char* argv[] = {"unveilo.exe"};
    startup_strings(1, argv);
    for (uint32_t i = DATA_SEGMENT_SIZE - SEGMENT_RESERVED_TOP; i < DATA_SEGMENT_SIZE; ++i)
        EXPECT_EQ(segment[i], 0) << i;
    // The two segment strings' descriptors lie directly below the reserved bytes.
    EXPECT_EQ(str_shared_empty->segment_entry_offset,
              int32_t(DATA_SEGMENT_SIZE - SEGMENT_RESERVED_TOP - 4));
    EXPECT_EQ(str_one_space->segment_entry_offset,
              int32_t(DATA_SEGMENT_SIZE - SEGMENT_RESERVED_TOP - 8));
    EXPECT_EQ(str_engine.segment_top, DATA_SEGMENT_SIZE - SEGMENT_RESERVED_TOP - 8);
}

} // namespace

// The count follows the environment: one more after a variable is added, as before once it is
// gone again.
TEST(startup_count_environment, CountsTheProcessEnvironment) {
    const char* name = "UNVEILO_TEST_ENVIRONMENT_COUNT";
    platform_setenv(name, nullptr);
    int32_t before = startup_count_environment();
    EXPECT_GT(before, 0); // the test runner always has a PATH at least
    EXPECT_EQ(environment_count, before);
    ASSERT_TRUE(platform_setenv(name, "1"));
    EXPECT_EQ(startup_count_environment(), before + 1);
    EXPECT_EQ(environment_count, before + 1);
    ASSERT_TRUE(platform_setenv(name, nullptr));
    EXPECT_EQ(startup_count_environment(), before);
}
