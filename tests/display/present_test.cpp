// The presenter's size rules: when a frame is drawn, when the window is asked to change size.
#include <gtest/gtest.h>

#include "runtime/display/present.h"

namespace {

class PresentTest : public ::testing::Test {
  protected:
    void SetUp() override { presenter_reset(); }
};

TEST_F(PresentTest, first_frame_in_the_creation_size_asks_for_a_reshape_and_draws_nothing) {
    window_reshape(1024, 552); // the window as created
    PresentPlan plan = present_plan(640, 400, false);
    EXPECT_EQ(plan.step, PresentStep::reshape);
    EXPECT_EQ(plan.reshape_width, 640);
    EXPECT_EQ(plan.reshape_height, 400);
    EXPECT_EQ(presenter.reshape_pending, 1);
}

TEST_F(PresentTest, after_the_reshape_the_frame_is_drawn_once) {
    window_reshape(1024, 552);
    present_plan(640, 400, false);
    window_reshape(640, 400);
    EXPECT_EQ(present_plan(640, 400, false).step, PresentStep::draw);
    // The same frame again: nothing to do until a reshape forces it.
    EXPECT_EQ(present_plan(640, 400, true).step, PresentStep::nothing);
    window_reshape(640, 400);
    EXPECT_EQ(present_plan(640, 400, true).step, PresentStep::draw);
    EXPECT_EQ(present_plan(640, 400, true).step, PresentStep::nothing);
}

TEST_F(PresentTest, a_size_imposed_from_outside_is_undone_at_the_next_frame) {
    window_reshape(700, 450);
    PresentPlan plan = present_plan(640, 400, false);
    EXPECT_EQ(plan.step, PresentStep::reshape);
    EXPECT_EQ(plan.reshape_width, 640);
}

TEST_F(PresentTest, user_sized_window_keeps_the_changed_width_and_takes_the_frame_aspect) {
    presenter.resize_mode = 1;
    window_reshape(800, 400); // only the width changed, from 640
    PresentPlan plan = present_plan(640, 400, false);
    EXPECT_EQ(plan.step, PresentStep::draw);
    EXPECT_EQ(plan.reshape_width, 800);
    EXPECT_EQ(plan.reshape_height, 500);
}

TEST_F(PresentTest, user_sized_window_keeps_the_changed_height) {
    presenter.resize_mode = 1;
    window_reshape(640, 500);
    PresentPlan plan = present_plan(640, 400, false);
    EXPECT_EQ(plan.reshape_width, 800);
    EXPECT_EQ(plan.reshape_height, 500);
}

TEST_F(PresentTest, pending_full_screen_request_always_draws) {
    window_reshape(640, 400);
    present_plan(640, 400, false);
    fullscreen_request.store(1);
    EXPECT_EQ(present_plan(640, 400, true).step, PresentStep::draw);
}

TEST_F(PresentTest, an_expose_draws_the_frame_already_presented_again) {
    window_reshape(640, 400);
    present_plan(640, 400, false);
    ASSERT_EQ(present_plan(640, 400, true).step, PresentStep::nothing);
    window_exposed();
    EXPECT_EQ(present_plan(640, 400, true).step, PresentStep::draw);
    EXPECT_EQ(present_plan(640, 400, true).step, PresentStep::nothing);
}

TEST_F(PresentTest, the_presentation_after_a_reshape_is_followed_by_one_more) {
    window_reshape(640, 400);
    EXPECT_EQ(present_plan(640, 400, false).step, PresentStep::draw);
    ASSERT_TRUE(present_owes_redraw());
    EXPECT_EQ(present_plan(640, 400, true).step, PresentStep::draw);
    // Owed once per reshape, not for ever.
    EXPECT_FALSE(present_owes_redraw());
    EXPECT_EQ(present_plan(640, 400, true).step, PresentStep::nothing);
}

TEST_F(PresentTest, no_redraw_is_owed_without_a_reshape) {
    EXPECT_FALSE(present_owes_redraw());
    EXPECT_EQ(presenter.force_present, 0);
}

} // namespace
