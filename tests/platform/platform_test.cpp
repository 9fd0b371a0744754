#include <gtest/gtest.h>

#include <cfloat>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "runtime/platform/platform.h"

namespace fs = std::filesystem;

namespace {

// Sets the scripted dialog answer for one test and puts the previous one back.
class ScopedDialogAnswer {
  public:
    explicit ScopedDialogAnswer(const char* value) {
        const char* old = std::getenv("UNVEILO_TEST_DIALOG_ANSWER");
        had_ = old != nullptr;
        if (old) saved_ = old;
        platform_setenv("UNVEILO_TEST_DIALOG_ANSWER", value);
    }
    ~ScopedDialogAnswer() {
        platform_setenv("UNVEILO_TEST_DIALOG_ANSWER", had_ ? saved_.c_str() : nullptr);
    }

  private:
    bool had_ = false;
    std::string saved_;
};

struct BoxResult {
    int answer;
    std::string echoed;
};

BoxResult show(const char* answer, const char* text, const char* caption, unsigned style) {
    ScopedDialogAnswer scripted(answer);
    testing::internal::CaptureStderr();
    int result = platform_message_box(text, caption, style);
    return {result, testing::internal::GetCapturedStderr()};
}

TEST(platform_message_box, scripted_yes_no_answers) {
    const unsigned style = DIALOG_SYSTEM_MODAL | DIALOG_YES_NO;
    BoxResult yes = show("yes", "Line:1\nOverflow\nContinue?", "Unhandled Error #6", style);
    EXPECT_EQ(yes.answer, DIALOG_ANSWER_YES);
    EXPECT_EQ(yes.echoed, "[dialog] Unhandled Error #6: Line:1\nOverflow\nContinue?\n");
    EXPECT_EQ(show("no", "question", "Caption B", style).answer, DIALOG_ANSWER_NO);
    // A yes/no box has no OK button: its safe answer stands in.
    EXPECT_EQ(show("ok", "question", "Caption C", style).answer, DIALOG_ANSWER_NO);
}

TEST(platform_message_box, scripted_ok_box_always_answers_ok) {
    for (const char* answer : {"ok", "yes", "no"}) {
        BoxResult r = show(answer, "Out of memory", "Critical Error #9", DIALOG_SYSTEM_MODAL);
        EXPECT_EQ(r.answer, DIALOG_ANSWER_OK) << answer;
        EXPECT_EQ(r.echoed, "[dialog] Critical Error #9: Out of memory\n") << answer;
    }
    EXPECT_EQ(show("yes", "x", "Plain", DIALOG_OK).answer, DIALOG_ANSWER_OK);
}

TEST(platform_setenv, sets_and_removes) {
    const char* name = "UNVEILO_PLATFORM_TEST_VARIABLE";
    ASSERT_TRUE(platform_setenv(name, "value one"));
    ASSERT_NE(std::getenv(name), nullptr);
    EXPECT_STREQ(std::getenv(name), "value one");
    ASSERT_TRUE(platform_setenv(name, nullptr));
    EXPECT_EQ(std::getenv(name), nullptr);
}

TEST(platform_exit, status_reaches_the_parent_with_stderr_flushed) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::fputs("last words", stderr);
            platform_exit(3);
        },
        testing::ExitedWithCode(3), "last words");
    EXPECT_EXIT(platform_exit(0), testing::ExitedWithCode(0), "");
}

TEST(platform_clock_ms, advances_with_sleep) {
    int64_t before = platform_clock_ms();
    EXPECT_GE(before, 0);
    platform_sleep_ms(50);
    int64_t after = platform_clock_ms();
    EXPECT_GE(after - before, 45);
    platform_sleep_ms(0);
    EXPECT_GE(platform_clock_ms(), after);
}

TEST(platform_executable_path, names_this_test_program) {
    std::string path = platform_executable_path();
    ASSERT_FALSE(path.empty());
    EXPECT_TRUE(fs::path(path).is_absolute()) << path;
    EXPECT_TRUE(fs::exists(path)) << path;
    EXPECT_NE(fs::path(path).filename().string().find("unveilo_tests"), std::string::npos) << path;
}

TEST(platform_chdir, enters_directories_and_reports_failure) {
    fs::path saved = fs::current_path();
    std::random_device random;
    fs::path dir = fs::temp_directory_path() / ("unveilo-chdir-" + std::to_string(random()));
    fs::create_directories(dir);

    EXPECT_TRUE(platform_chdir(dir.string().c_str()));
    EXPECT_TRUE(fs::equivalent(fs::current_path(), dir));
    EXPECT_FALSE(platform_chdir((dir / "missing").string().c_str()));
    EXPECT_TRUE(fs::equivalent(fs::current_path(), dir));

    fs::current_path(saved);
    fs::remove_all(dir);
}

// Started from another folder (a shortcut's working directory), the program works in its own.
// The check names only the program's file, so that it holds in a folder whose name the ANSI
// calls cannot give (scripts/test.sh runs it from one under Wine, without a UTF-8 manifest).
TEST(platform_enter_executable_directory, leaves_the_starting_folder_for_the_programs) {
    fs::path saved = fs::current_path();
    fs::path elsewhere = fs::temp_directory_path();
    fs::current_path(elsewhere);
    ASSERT_TRUE(platform_enter_executable_directory());
    EXPECT_FALSE(fs::equivalent(fs::current_path(), elsewhere)) << fs::current_path();
    fs::path name = fs::path(platform_executable_path()).filename();
    EXPECT_TRUE(fs::exists(name)) << name << " is not in " << fs::current_path();
    fs::current_path(saved);
}

TEST(platform_fpu_extended_precision, long_double_keeps_its_mantissa) {
    platform_fpu_extended_precision();
    // With a 53-bit precision control the sum rounds back to 1 whenever long double is wider
    // than double.
    volatile long double one = 1.0L;
    volatile long double epsilon = LDBL_EPSILON;
    volatile long double sum = one + epsilon;
    EXPECT_NE(sum, one);
}

} // namespace
