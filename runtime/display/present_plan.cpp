// The presenter's size rules, kept apart from the window library so that they can be tested.
#include <cmath>
#include <cstdlib>

#include "runtime/display/present.h"

PresenterState presenter;

void presenter_reset() {
    presenter.~PresenterState();
    new (&presenter) PresenterState();
    control_fullscreen_reset();
}

void window_reshape(int32_t width, int32_t height) {
    presenter.resize_event_width = width;
    presenter.resize_event_height = height;
    presenter.resize_event_pending = -1;
    presenter.window_prev_width = presenter.window_width;
    presenter.window_prev_height = presenter.window_height;
    presenter.window_width = width;
    presenter.window_height = height;
    presenter.reshape_pending = 0;
    presenter.force_present = 1;
    presenter.redraw_after_reshape = 1;
}

void window_exposed() {
    presenter.force_present = 1;
}

bool present_owes_redraw() {
    if (presenter.redraw_after_reshape == 0) return false;
    presenter.redraw_after_reshape = 0;
    presenter.force_present = 1;
    return true;
}

PresentPlan present_plan(int32_t frame_width, int32_t frame_height, bool already_presented) {
    PresenterState& p = presenter;
    bool request_pending = fullscreen_request.load(std::memory_order_acquire) != -1;
    if (already_presented && !request_pending && p.force_present == 0) return {};
    p.force_present = 0;
    if (fullscreen_mode.load(std::memory_order_relaxed) != 0 || request_pending)
        return {PresentStep::draw};

    p.presented_width = frame_width;
    p.presented_height = frame_height;
    p.frame_aspect = float(frame_width) / float(frame_height);
    bool frame_size_changed =
        frame_width != p.presented_prev_width || frame_height != p.presented_prev_height;
    p.presented_prev_width = frame_width;
    p.presented_prev_height = frame_height;

    float window_aspect = float(p.window_width) / float(p.window_height);
    if (p.resize_mode != 0 && window_aspect != p.window_aspect && window_aspect != p.frame_aspect) {
        // Keep the side the user changed (the one that changed more), give the other the
        // frame's aspect.
        int32_t dw = std::abs(p.window_width - p.window_prev_width);
        int32_t dh = std::abs(p.window_height - p.window_prev_height);
        int32_t width = p.window_width;
        int32_t height = p.window_height;
        bool keep_width = (dw != 0 && dh == 0) || (dw == 0 && dh == 0) || dw > dh;
        if (keep_width)
            height = int32_t(float(width) / p.frame_aspect);
        else
            width = int32_t(float(height) * p.frame_aspect);
        p.window_aspect = float(width) / float(height);
        p.reshape_pending = 1;
        return {PresentStep::draw, width, height};
    }
    bool size_differs = frame_width != p.window_width || frame_height != p.window_height;
    if (size_differs && (p.window_follows_frame != 0 || frame_size_changed)) {
        p.reshape_pending = 1;
        return {PresentStep::reshape, frame_width, frame_height};
    }
    return {PresentStep::draw};
}
