// The presenter's size rules: when a frame is drawn, when the window is asked to change size.
#include <gtest/gtest.h>

#include <array>
#include <vector>

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

// Fitting a scaled frame into the drawing area: where it lands, where the bars are and how
// window coordinates map back to frame pixels.
struct FitCase {
    int32_t frame_w, frame_h, target_w, target_h;
    bool keep_aspect;
    int32_t x1, y1, x2, y2, bars_axis;
};

TEST(present_changed_rows, span_from_the_first_to_the_last_changed_row) {
    constexpr int32_t W = 5, H = 7;
    struct Case {
        std::vector<int32_t> changed; // rows whose pixel (row % W) changes
        int32_t first, last;
    };
    for (const Case& c : {Case{{}, 0, -1}, Case{{0}, 0, 0}, Case{{6}, 6, 6}, Case{{2, 4}, 2, 4},
                          Case{{0, 6}, 0, 6}, Case{{3}, 3, 3}}) {
        std::vector<uint32_t> shown(W * H, 0xFF000000u), frame = shown;
        for (int32_t row : c.changed) frame[size_t(row * W + row % W)] = 0xFFFFFFFFu;
        PresentRows rows = present_changed_rows(shown.data(), frame.data(), W, H);
        EXPECT_EQ(rows.first, c.first) << c.changed.size();
        EXPECT_EQ(rows.last, c.last) << c.changed.size();
    }
}

TEST(present_fit, PlacesTheFrameAndMapsTheMouse) {
    const FitCase cases[] = {
        // Narrower than a wide desktop: 1080 x 1.6 = 1728 across, centred at 960 - 864.
        {640, 400, 1920, 1080, true, 96, 0, 1824, 1080, 0},
        // Wider than a 5:4 desktop: 1280 / 1.6 = 800 high, centred at 512 - 400.
        {640, 400, 1280, 1024, true, 0, 112, 1280, 912, 1},
        // The same aspect: nothing to fit.
        {640, 400, 1280, 800, true, 0, 0, 1280, 800, -1},
        // Stretched: the whole target whatever the aspects.
        {640, 400, 1920, 1080, false, 0, 0, 1920, 1080, -1},
        {720, 400, 1024, 768, true, 0, 100, 1024, 668, 1},
    };
    for (const FitCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.frame_w << "x" << c.frame_h << " in " << c.target_w
                                        << "x" << c.target_h << " keep " << c.keep_aspect);
        PresentFit fit = present_fit(c.frame_w, c.frame_h, c.target_w, c.target_h, c.keep_aspect);
        EXPECT_EQ(fit.x1, c.x1);
        EXPECT_EQ(fit.y1, c.y1);
        EXPECT_EQ(fit.x2, c.x2);
        EXPECT_EQ(fit.y2, c.y2);
        EXPECT_EQ(fit.bars_axis, c.bars_axis);
        // Window pixel offset + x maps to frame pixel x * scale; the drawn rectangle's corners
        // map to the frame's corners.
        int32_t drawn_w = c.x2 - c.x1, drawn_h = c.y2 - c.y1;
        EXPECT_EQ(fit.mouse_offset[0], -c.x1);
        EXPECT_EQ(fit.mouse_offset[1], -c.y1);
        EXPECT_EQ(fit.mouse_last[0], drawn_w - 1);
        EXPECT_EQ(fit.mouse_last[1], drawn_h - 1);
        EXPECT_FLOAT_EQ(fit.mouse_scale[0] * float(drawn_w), float(c.frame_w));
        EXPECT_FLOAT_EQ(fit.mouse_scale[1] * float(drawn_h), float(c.frame_h));
    }
}

TEST(present_bars, CoverEverythingBesideTheFrame) {
    PresentFit across = present_fit(640, 400, 1920, 1080, true);
    PresentBars bars = present_bars(across, 1920, 1080);
    EXPECT_EQ((std::array{bars.first.x1, bars.first.y1, bars.first.x2, bars.first.y2}),
              (std::array{0, 0, 96, 1080}));
    EXPECT_EQ((std::array{bars.second.x1, bars.second.y1, bars.second.x2, bars.second.y2}),
              (std::array{1824, 0, 1920, 1080}));

    PresentFit down = present_fit(640, 400, 1280, 1024, true);
    bars = present_bars(down, 1280, 1024);
    EXPECT_EQ((std::array{bars.first.x1, bars.first.y1, bars.first.x2, bars.first.y2}),
              (std::array{0, 0, 1280, 112}));
    EXPECT_EQ((std::array{bars.second.x1, bars.second.y1, bars.second.x2, bars.second.y2}),
              (std::array{0, 912, 1280, 1024}));

    // No bars: two empty rectangles, so the fourth pass draws nothing visible.
    bars = present_bars(present_fit(640, 400, 1280, 800, true), 1280, 800);
    EXPECT_EQ(bars.first.x2 - bars.first.x1, 0);
    EXPECT_EQ(bars.second.y2 - bars.second.y1, 0);
}

} // namespace
