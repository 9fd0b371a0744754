// The window library's display, timer and reshape callbacks: the newest composed frame goes into
// the window, at its natural size or scaled, and only when there is something new. The drawing
// itself is in present_draw.cpp.
#include "runtime/display/present.h"

#include <GL/freeglut.h>

#include <string>

#include "runtime/base/run_state.h"
#include "runtime/display/compose.h"
#include "runtime/display/latency.h"
#include "runtime/display/present_draw.h"
#include "runtime/display/window.h"
#include "runtime/display/window_input.h"
#include "runtime/input/keys.h"
#include "runtime/platform/platform.h"
#include "runtime/screen/title.h"

namespace {

constexpr unsigned REDISPLAY_INTERVAL_MS = 8;

// The numbers window_input.cpp translates without including freeglut.
static_assert(WINDOW_MODIFIER_SHIFT == GLUT_ACTIVE_SHIFT &&
              WINDOW_MODIFIER_CTRL == GLUT_ACTIVE_CTRL && WINDOW_MODIFIER_ALT == GLUT_ACTIVE_ALT);
static_assert(WINDOW_KEY_F1 == GLUT_KEY_F1 && WINDOW_KEY_F11 == GLUT_KEY_F11 &&
              WINDOW_KEY_F12 == GLUT_KEY_F12);
static_assert(WINDOW_KEY_LEFT == GLUT_KEY_LEFT && WINDOW_KEY_UP == GLUT_KEY_UP &&
              WINDOW_KEY_RIGHT == GLUT_KEY_RIGHT && WINDOW_KEY_DOWN == GLUT_KEY_DOWN);
static_assert(WINDOW_KEY_PAGE_UP == GLUT_KEY_PAGE_UP &&
              WINDOW_KEY_PAGE_DOWN == GLUT_KEY_PAGE_DOWN && WINDOW_KEY_HOME == GLUT_KEY_HOME &&
              WINDOW_KEY_END == GLUT_KEY_END && WINDOW_KEY_INSERT == GLUT_KEY_INSERT);
static_assert(WINDOW_KEY_SHIFT_L == GLUT_KEY_SHIFT_L && WINDOW_KEY_SHIFT_R == GLUT_KEY_SHIFT_R &&
              WINDOW_KEY_CTRL_L == GLUT_KEY_CTRL_L && WINDOW_KEY_CTRL_R == GLUT_KEY_CTRL_R &&
              WINDOW_KEY_ALT_L == GLUT_KEY_ALT_L && WINDOW_KEY_ALT_R == GLUT_KEY_ALT_R);
static_assert(WINDOW_BUTTON_LEFT == GLUT_LEFT_BUTTON &&
              WINDOW_BUTTON_MIDDLE == GLUT_MIDDLE_BUTTON &&
              WINDOW_BUTTON_RIGHT == GLUT_RIGHT_BUTTON && WINDOW_BUTTON_DOWN == GLUT_DOWN);

// Whether the pending display callback was asked for by the presenter itself. A call nobody here
// asked for comes from the window system (the window was mapped or uncovered, or Windows wants a
// paint): its contents may be gone, so the newest frame is drawn again.
bool redisplay_posted = false;

// Where the window system can show part of the back buffer without a swap, the presenter swaps
// only after a size change: the back buffer keeps the frame drawn into it, and a new frame is drawn
// and shown only where its rows differ, so that a blinking cursor costs one row of cells instead of
// the whole window in a software rasteriser. `holds_frame` says the back buffer of `window` shows
// the texture's frame; `screen_behind` that the screen has not been shown it (a paused program,
// an uncovered window). Mesa learns a window's new size only from a swap, so the first frame
// after a size change is swapped (`swapped_at_size`); a copy before it lands where the old size
// had its rows.
struct KeptBackBuffer {
    int window = 0;
    bool holds_frame = false;
    bool screen_behind = false;
    bool swapped_at_size = false;
};
KeptBackBuffer kept_back_buffer;

void post_redisplay() {
    redisplay_posted = true;
    glutPostRedisplay();
}

void on_display() {
    if (!redisplay_posted) {
        window_exposed();
        kept_back_buffer.screen_behind = true;
    }
    redisplay_posted = false;
    display_present();
}
void on_reshape(int width, int height) {
    window_reshape(width, height);
    kept_back_buffer.holds_frame = false;
    kept_back_buffer.swapped_at_size = false;
}
void on_key_down(unsigned char key, int, int) {
    latency_key_event();
    window_key_char(key, glutGetModifiers(), true);
}
void on_key_up(unsigned char key, int, int) {
    window_key_char(key, glutGetModifiers(), false);
}
void on_special_down(int key, int, int) {
    window_key_special(key, true);
}
void on_special_up(int key, int, int) {
    window_key_special(key, false);
}
void on_mouse(int button, int state, int x, int y) {
    window_mouse_button(button, state, x, y);
}
void on_motion(int x, int y) {
    window_mouse_motion(x, y);
}
void on_wheel(int wheel, int direction, int x, int y) {
    window_mouse_wheel(wheel, direction, x, y);
}

// Full-screen switching through the window library's game mode.
bool game_mode_possible(int width, int height) {
    std::string mode = std::to_string(width) + "x" + std::to_string(height) + ":32";
    glutGameModeString(mode.c_str());
    return glutGameModeGet(GLUT_GAME_MODE_POSSIBLE) != 0;
}

// Returns true when the request was handled and this call must not draw.
bool take_fullscreen_request(const DisplayFrame& frame) {
    PresenterState& p = presenter;
    int32_t request = fullscreen_request.load(std::memory_order_acquire);
    if (request == -1 || p.reshape_pending != 0) return false;
    if (request == 0) {
        glutLeaveGameMode();
        glutSetWindow(p.saved_window);
        register_window_callbacks();
        fullscreen_mode.store(0, std::memory_order_release);
        fullscreen_request.store(-1, std::memory_order_release);
        return true;
    }
    auto enter = [&](int width, int height) {
        if (fullscreen_mode.load(std::memory_order_relaxed) == 0) p.saved_window = glutGetWindow();
        glutEnterGameMode();
        platform_window_fullscreen_style();
        p.target_width = width;
        p.target_height = height;
        register_window_callbacks();
        fullscreen_mode.store(request, std::memory_order_release);
        fullscreen_request.store(-1, std::memory_order_release);
    };
    if (game_mode_possible(frame.width, frame.height)) {
        enter(frame.width, frame.height);
        return true;
    }
    int desktop_width = glutGet(GLUT_SCREEN_WIDTH);
    int desktop_height = glutGet(GLUT_SCREEN_HEIGHT);
    if (game_mode_possible(desktop_width, desktop_height)) {
        enter(desktop_width, desktop_height);
        p.fullscreen_scaling = request;
        return true;
    }
    fullscreen_mode.store(0, std::memory_order_release);
    fullscreen_request.store(-1, std::memory_order_release);
    return false;
}

// A frame not yet drawn, a reshape to answer or a full-screen request: the cases in which the
// display callback does more than return.
bool presenter_has_work() {
    int32_t newest = compose_ring.ring_newest.load(std::memory_order_acquire);
    if (newest == 0) return false;
    return compose_ring.slots[size_t(newest)].presented.load(std::memory_order_acquire) == 0 ||
           presenter.force_present != 0 || fullscreen_request.load(std::memory_order_acquire) != -1;
}

} // namespace

void display_present() {
    PresenterState& p = presenter;
    if (p.window_alive == 0) return;
    const DisplayFrame* frame = compose_ring_latest();
    if (!frame) return;

    bool presented = frame->presented.load(std::memory_order_acquire) != 0;
    PresentPlan plan = present_plan(frame->width, frame->height, presented);
    if (plan.step == PresentStep::nothing) return;
    if (plan.reshape_width != 0) {
        glutReshapeWindow(plan.reshape_width, plan.reshape_height);
        post_redisplay();
        if (plan.step == PresentStep::reshape) return;
    }
    if (take_fullscreen_request(*frame)) {
        kept_back_buffer = {};
        return;
    }

    compose_ring_mark_presented(frame);
    bool scaled = p.fullscreen_scaling != 0 || p.resize_mode != 0;
    PresentFit fit;
    if (scaled) {
        if (fullscreen_mode.load(std::memory_order_relaxed) == 0) {
            p.target_width = p.window_width;
            p.target_height = p.window_height;
        }
        fit = present_fit(frame->width, frame->height, p.target_width, p.target_height,
                          p.fullscreen_scaling == 2);
        for (int axis = 0; axis < 2; ++axis) {
            p.mouse_offset[axis] = fit.mouse_offset[axis];
            p.mouse_scale[axis] = fit.mouse_scale[axis];
            p.mouse_last[axis] = fit.mouse_last[axis];
        }
    }
    // The plain case, a frame at its natural size over the whole window, drawn opaque, is the one
    // a kept back buffer can serve; anything else draws everything and swaps.
    bool covers_window =
        !scaled && frame->width == p.window_width && frame->height == p.window_height;
    KeptBackBuffer& kept = kept_back_buffer;
    int window = glutGetWindow();
    if (kept.window != window) kept = {window};
    bool keepable = covers_window && p.display_order == 2 &&
                    fullscreen_mode.load(std::memory_order_relaxed) == 0;
    bool only_changed = keepable && kept.holds_frame;
    // The rows the back buffer gets, top-down; with a kept back buffer the scissor holds every
    // clear and draw below to them.
    PresentRows drawn{0, frame->height - 1};
    if (!scaled) {
        PresentRows changed = present_upload_rows(*frame);
        if (only_changed) drawn = changed;
    }
    if (only_changed && drawn.first <= drawn.last) {
        glEnable(GL_SCISSOR_TEST);
        glScissor(0, p.window_height - 1 - drawn.last, p.window_width,
                  drawn.last - drawn.first + 1);
    }
    for (int pass = 1; pass <= 4 && drawn.first <= drawn.last; ++pass) {
        glDisable(GL_TEXTURE_2D);
        glDisable(GL_ALPHA_TEST);
        glDisable(GL_BLEND);
        glDisable(GL_COLOR_MATERIAL);
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_LIGHTING);
        // A frame drawn unscaled over the whole window leaves nothing of the clear visible;
        // with a software rasteriser the clear costs as much as the frame.
        if (pass == 1 && !covers_window) glClear(GL_COLOR_BUFFER_BIT);
        if ((pass == 1 && p.display_order == 2) || (pass == 3 && p.display_order == 1)) {
            glClear(GL_DEPTH_BUFFER_BIT);
            if (pass == 3) {
                glEnable(GL_BLEND);
                glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
            }
            if (scaled)
                present_draw_scaled(*frame, fit);
            else
                present_draw_unscaled(*frame);
        }
        if (pass == 4 && fit.bars_axis >= 0) present_draw_bars(fit);
    }
    glDisable(GL_SCISSOR_TEST);
    compose_ring_consume_older();
    // A paused program's frames are drawn but not shown.
    bool paused = (run_state.pause_state.load(std::memory_order_relaxed) & 1) != 0;
    kept.holds_frame = keepable;
    kept.screen_behind = kept.screen_behind || paused || !only_changed;
    if (!paused) {
        bool shown = false;
        if (keepable && kept.swapped_at_size) {
            PresentRows show = kept.screen_behind ? PresentRows{0, p.window_height - 1} : drawn;
            shown = show.first > show.last ||
                    platform_show_back_buffer_rows(p.window_height - 1 - show.last,
                                                   show.last - show.first + 1, p.window_width);
        }
        if (!shown) {
            glutSwapBuffers();
            kept.holds_frame = false;
            kept.swapped_at_size = keepable;
        }
        kept.screen_behind = false;
        latency_frame_presented(int32_t(frame - &compose_ring.slots[0]));
        if (present_owes_redraw()) post_redisplay();
    }
}

void redisplay_tick(int value) {
    if (presenter.window_alive != 0) {
        std::string title;
        if (title_take_pending(title)) glutSetWindowTitle(title.c_str());
        bool hidden = false;
        if (screen_visibility_take_pending(hidden)) {
            if (hidden)
                glutHideWindow();
            else
                glutShowWindow();
        }
        // Waking the display callback costs a pass through the window library even when it
        // returns at once; an idle program asks for it only when something is to be drawn.
        if (presenter_has_work()) post_redisplay();
    }
    glutTimerFunc(REDISPLAY_INTERVAL_MS, redisplay_tick, value);
}

void register_window_callbacks() {
    glutDisplayFunc(on_display);
    glutTimerFunc(REDISPLAY_INTERVAL_MS, redisplay_tick, 0);
    glutKeyboardFunc(on_key_down);
    glutKeyboardUpFunc(on_key_up);
    glutSpecialFunc(on_special_down);
    glutSpecialUpFunc(on_special_up);
    glutMouseFunc(on_mouse);
    glutMotionFunc(on_motion);
    glutPassiveMotionFunc(on_motion);
    glutReshapeFunc(on_reshape);
    glutMouseWheelFunc(on_wheel);
}
