#include <atomic>
#include <string>
#include <thread>

#include "runtime/base/error.h"
#include "runtime/display/display.h"
#include "runtime/strings/detail.h"
#include "screen/screen_fixture.h"

namespace {

using set_window_title_ = ScreenTest;
using screen_visibility = ScreenTest;
using console_statements = ScreenTest;

std::string stored(const BasicString* s) {
    return std::string(reinterpret_cast<const char*>(s->chars), size_t(s->length));
}

TEST_F(set_window_title_, UntitledUntilATitleIsSet) {
    EXPECT_EQ(title_for_window_creation(), "Untitled");
    std::string title;
    EXPECT_FALSE(title_take_pending(title));
    EXPECT_EQ(title_state.window_title, nullptr);
}

TEST_F(set_window_title_, StoredWithATerminatorBeforeTheWindowExists) {
    set_window_title(text("USB Recovery"));
    ASSERT_NE(title_state.window_title, nullptr);
    EXPECT_EQ(stored(title_state.window_title), std::string("USB Recovery\0", 13));
    EXPECT_EQ(title_for_window_creation(), "USB Recovery");
    std::string title;
    EXPECT_FALSE(title_take_pending(title)); // creation already used it
}

TEST_F(set_window_title_, LaterTitlesReachTheWindowOnce) {
    EXPECT_EQ(title_for_window_creation(), "Untitled");
    set_window_title(text("first"));
    set_window_title(text("second"));
    std::string title;
    ASSERT_TRUE(title_take_pending(title));
    EXPECT_EQ(title, "second");
    EXPECT_FALSE(title_take_pending(title));
    set_window_title(text("second"));
    EXPECT_TRUE(title_take_pending(title)); // every statement is a request, even a repeated title
    EXPECT_EQ(stored(title_state.window_title), std::string("second\0", 7));
}

TEST_F(set_window_title_, EmptyTitleAndEmbeddedZero) {
    set_window_title(text(""));
    EXPECT_EQ(stored(title_state.window_title), std::string(1, '\0'));
    EXPECT_EQ(title_for_window_creation(), "");
    set_window_title(text(std::string("shown\0hidden", 12)));
    std::string title;
    ASSERT_TRUE(title_take_pending(title));
    EXPECT_EQ(title, "shown");
    EXPECT_EQ(title_state.window_title->length, 13);
}

TEST_F(set_window_title_, TemporaryTitleIsConsumed) {
    BasicString* temporary = str_new(3, true);
    std::memcpy(temporary->chars, "tmp", 3);
    set_window_title(temporary);
    EXPECT_EQ(stored(title_state.window_title), std::string("tmp\0", 4));
    bool released = false;
    for (int32_t i = 0; i < str_engine.free_count; ++i)
        released = released || str_engine.free_descriptors[i] == temporary;
    EXPECT_TRUE(released);
    EXPECT_STREQ(str_check_invariants(), "");
}

TEST_F(set_window_title_, ErrorPendingKeepsTheOldTitle) {
    set_window_title(text("old"));
    std::string title;
    ASSERT_TRUE(title_take_pending(title));
    error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
    set_window_title(text("new"));
    EXPECT_EQ(stored(title_state.window_title), std::string("old\0", 4));
    EXPECT_FALSE(title_take_pending(title));
    EXPECT_EQ(title_for_window_creation(), "old");
}

// The window thread creates the window while the program thread sets titles; whatever the order,
// the last title set is the one the window ends with.
TEST_F(set_window_title_, LastTitleWinsAcrossThreads) {
    std::atomic<bool> done{false};
    std::string shown;
    std::thread window([&] {
        shown = title_for_window_creation();
        std::string title;
        while (!done.load(std::memory_order_acquire))
            if (title_take_pending(title)) shown = title;
        if (title_take_pending(title)) shown = title;
    });
    for (int i = 0; i < 200; ++i) set_window_title(text("title " + std::to_string(i)));
    done.store(true, std::memory_order_release);
    window.join();
    EXPECT_EQ(shown, "title 199");
}

TEST_F(screen_visibility, ShowAndHideRequests) {
    bool hidden = false;
    EXPECT_FALSE(screen_visibility_take_pending(hidden));
    screen_hide();
    EXPECT_EQ(window_hidden.load(), 1);
    ASSERT_TRUE(screen_visibility_take_pending(hidden));
    EXPECT_TRUE(hidden);
    EXPECT_FALSE(screen_visibility_take_pending(hidden));
    screen_hide();
    ASSERT_TRUE(screen_visibility_take_pending(hidden));
    EXPECT_TRUE(hidden);
    screen_hide();
    screen_show();
    EXPECT_EQ(window_hidden.load(), 0);
    ASSERT_TRUE(screen_visibility_take_pending(hidden));
    EXPECT_FALSE(hidden); // the newest request wins
}

TEST_F(console_statements, NoConsoleInThisProgram) {
    EXPECT_EQ(console_handle(), -1);
    title_state.console_image = -7;
    EXPECT_EQ(console_handle(), -7);
    console_show(0);
    EXPECT_EQ(title_state.console_shown, 1); // console_enabled is 0: nothing happens
    title_state.console_enabled = 1;
    console_show(0);
    EXPECT_EQ(title_state.console_shown, 0);
    console_show(1);
    EXPECT_EQ(title_state.console_shown, 1);
    error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
    EXPECT_EQ(console_handle(), -1);
}

TEST_F(console_statements, ConsoleTitleIsStored) {
    console_set_title(text("console"));
    ASSERT_NE(title_state.console_title_text, nullptr);
    EXPECT_EQ(stored(title_state.console_title_text), std::string("console\0", 8));
    error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
    console_set_title(text("other"));
    EXPECT_EQ(stored(title_state.console_title_text), std::string("console\0", 8));
    EXPECT_EQ(title_state.window_title, nullptr);
}

} // namespace
