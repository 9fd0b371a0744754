// The presenter's size rules, kept apart from the window library so that they can be tested.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "runtime/display/present.h"

PresenterState presenter;
std::atomic<int32_t> window_resizable_setting{0};

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

PresentRows present_changed_rows(const uint32_t* shown, const uint32_t* frame, int32_t width,
                                 int32_t height) {
    size_t row_bytes = size_t(width) * 4;
    auto differs = [&](int32_t row) {
        size_t at = size_t(row) * size_t(width);
        return std::memcmp(shown + at, frame + at, row_bytes) != 0;
    };
    PresentRows rows;
    int32_t first = 0;
    while (first < height && !differs(first)) ++first;
    if (first == height) return rows;
    int32_t last = height - 1;
    while (last > first && !differs(last)) --last;
    rows.first = first;
    rows.last = last;
    return rows;
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

PresentFit present_fit(int32_t frame_width, int32_t frame_height, int32_t target_width,
                       int32_t target_height, bool keep_aspect) {
    // Full coverage first: the frame stretched over the whole target.
    PresentFit fit;
    fit.x2 = target_width;
    fit.y2 = target_height;
    fit.mouse_scale[0] = float(frame_width) / float(target_width);
    fit.mouse_scale[1] = float(frame_height) / float(target_height);
    fit.mouse_last[0] = target_width - 1;
    fit.mouse_last[1] = target_height - 1;
    if (!keep_aspect) return fit;
    float target_aspect = float(target_width) / float(target_height);
    float aspect = float(frame_width) / float(frame_height);
    if (aspect < target_aspect) {
        // Narrower than the target: full height, centred across, bars left and right.
        int32_t drawn = int32_t(float(target_height) * aspect);
        fit.x1 = target_width / 2 - drawn / 2;
        fit.x2 = fit.x1 + drawn;
        fit.bars_axis = 0;
        fit.mouse_offset[0] = -fit.x1;
        fit.mouse_scale[0] = float(frame_width) / float(drawn);
        fit.mouse_last[0] = drawn - 1;
    } else if (aspect > target_aspect) {
        int32_t drawn = int32_t(float(target_width) / aspect);
        fit.y1 = target_height / 2 - drawn / 2;
        fit.y2 = fit.y1 + drawn;
        fit.bars_axis = 1;
        fit.mouse_offset[1] = -fit.y1;
        fit.mouse_scale[1] = float(frame_height) / float(drawn);
        fit.mouse_last[1] = drawn - 1;
    }
    return fit;
}

PresentBars present_bars(const PresentFit& fit, int32_t target_width, int32_t target_height) {
    if (fit.bars_axis == 0)
        return {{0, 0, fit.x1, target_height}, {fit.x2, 0, target_width, target_height}};
    if (fit.bars_axis == 1)
        return {{0, 0, target_width, fit.y1}, {0, fit.y2, target_width, target_height}};
    return {};
}
