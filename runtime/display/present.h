#pragma once
// The presenter: puts the newest composed frame into the window, keeps the window at the frame's
// size and switches full screen on request. Window thread only, except the full-screen handshake.
#include <atomic>
#include <cstdint>

#include "runtime/base/control.h"

struct PresenterState {
    int32_t window_width = 640; // client size as last reported to the reshape callback
    int32_t window_height = 400;
    int32_t window_prev_width = 640;
    int32_t window_prev_height = 400;
    int32_t presented_width = 640;
    int32_t presented_height = 400;
    int32_t presented_prev_width = 640;
    int32_t presented_prev_height = 400;
    float frame_aspect = 1.6f;
    float window_aspect = 1.6f;
    int32_t reshape_pending = 1;
    int32_t window_follows_frame = 1;
    int32_t resize_mode = 0; // 0 frame size; 1 user-sized, scaled; 2 the same, smooth
    int32_t force_present = 0;
    // Set by a reshape, cleared by the presentation after it: one more presentation is owed.
    // A GL implementation may learn a window's new size only at a buffer swap (Mesa's software
    // rasteriser does), so the first frame drawn after a resize can land in a buffer of the old
    // size; with nothing new to draw afterwards, that misplaced picture would stay.
    int32_t redraw_after_reshape = 0;
    // The full-screen handshake words, fullscreen_request and fullscreen_mode, are in
    // runtime/base/control.h, where the program side can reach them.
    int32_t fullscreen_scaling = 0;
    int32_t fullscreen_smooth = 0;
    int32_t target_width = 640;
    int32_t target_height = 400;
    int32_t saved_window = 0;
    int32_t display_order = 2;
    int32_t resize_event_pending = 0;
    int32_t resize_event_width = 0;
    int32_t resize_event_height = 0;
    // Window-to-frame mapping for the mouse functions, per axis.
    int32_t mouse_offset[2] = {0, 0};
    float mouse_scale[2] = {1.0f, 1.0f};
    int32_t mouse_last[2] = {639, 399};
    // Cleared when the window library has destroyed the window (the close box on X11): nothing
    // may be drawn or posted to it any more.
    int32_t window_alive = 1;
};

extern PresenterState presenter;

// What the display callback has to do with a frame of the given size, decided from the
// presenter state alone (no window library involved, so that the size rules can be tested).
enum class PresentStep {
    nothing, // the newest frame is on the screen already
    reshape, // ask for a new window size and draw nothing now
    draw,    // draw the frame
};
struct PresentPlan {
    PresentStep step = PresentStep::nothing;
    int32_t reshape_width = 0;
    int32_t reshape_height = 0;
};
// Applies the size rules of one presentation while windowed; updates the presenter state the
// way the display callback does and says what to do next.
PresentPlan present_plan(int32_t frame_width, int32_t frame_height, bool already_presented);

// The rows first..last (a single span) in which `frame` differs from `shown`, both width x height
// pixels; first > last when none does. The window keeps the frame it shows in a texture and
// uploads only these rows of a new one.
struct PresentRows {
    int32_t first = 0;
    int32_t last = -1;
};
PresentRows present_changed_rows(const uint32_t* shown, const uint32_t* frame, int32_t width,
                                 int32_t height);

// The reshape callback's bookkeeping.
void window_reshape(int32_t width, int32_t height);

// The window system asked for the window's contents (first map, expose, paint): the newest frame
// is drawn again, even if it was drawn before, since what was on the screen may be gone.
void window_exposed();

// After a presentation that swapped buffers: true when the window must be drawn once more (the
// first presentation after a reshape), with force_present set for it.
bool present_owes_redraw();

// Back to the start values (tests).
void presenter_reset();

// Window library callbacks (present.cpp).
void display_present();
void redisplay_tick(int value);
void register_window_callbacks();

// Where a scaled frame lies in the drawing area (the target) and the window-to-frame mapping
// that goes with it. Without aspect keeping, or when the aspects agree, the frame covers the
// whole target; otherwise it is centred on one axis and black bars fill the rest of that axis.
struct PresentFit {
    int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0; // the rectangle the frame is drawn into
    int32_t bars_axis = -1;                 // -1 no bars, 0 left and right, 1 top and bottom
    int32_t mouse_offset[2] = {0, 0};
    float mouse_scale[2] = {1.0f, 1.0f};
    int32_t mouse_last[2] = {0, 0};
};
PresentFit present_fit(int32_t frame_width, int32_t frame_height, int32_t target_width,
                       int32_t target_height, bool keep_aspect);

// The two black rectangles (x1, y1, x2, y2 in target pixels) that cover a fitted frame's bars;
// all zero when it has none.
struct PresentRect {
    int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};
struct PresentBars {
    PresentRect first, second;
};
PresentBars present_bars(const PresentFit& fit, int32_t target_width, int32_t target_height);

// The resizable-window setting: 0 unless a statement of the program sets it (this program has
// none). Written by the program thread, read once by the window thread when it creates the
// window; a single word that publishes nothing else, so relaxed.
extern std::atomic<int32_t> window_resizable_setting;
