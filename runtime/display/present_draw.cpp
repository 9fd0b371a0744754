// Drawing a frame with OpenGL: the texture that holds the frame the window shows, updated row by
// row, and the quads that put it into the window at its natural size or scaled, with black bars.
#include "runtime/display/present_draw.h"

#include <GL/freeglut.h>

#include <cstring>
#include <vector>

// The Windows OpenGL headers stop at version 1.1, which lacks these two.
#ifndef GL_BGRA
#define GL_BGRA 0x80E1
#endif
#ifndef GL_CLAMP_TO_EDGE
#define GL_CLAMP_TO_EDGE 0x812F
#endif

namespace {

// The frame the window shows, kept in a texture of its own: a new frame uploads only the rows
// that differ from the one before (a blinking cursor changes one row of cells) instead of all
// 640 x 400 pixels. The copy says what the texture holds; both belong to the window whose
// context made the texture.
struct ShownTexture {
    GLuint name = 0;
    int window = 0;
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels;
};
ShownTexture shown_texture;

} // namespace

// Returns the rows that changed: all of them for a new texture.
PresentRows present_upload_rows(const DisplayFrame& frame) {
    ShownTexture& t = shown_texture;
    int window = glutGetWindow();
    if (t.name == 0 || t.window != window) {
        // A new window (full screen has one of its own) has its own context and textures.
        glGenTextures(1, &t.name);
        t.window = window;
        t.width = 0;
    }
    glBindTexture(GL_TEXTURE_2D, t.name);
    size_t count = size_t(frame.width) * size_t(frame.height);
    if (t.width != frame.width || t.height != frame.height) {
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, frame.width, frame.height, 0, GL_BGRA,
                     GL_UNSIGNED_BYTE, frame.pixels);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        t.width = frame.width;
        t.height = frame.height;
        t.pixels.assign(frame.pixels, frame.pixels + count);
        return {0, frame.height - 1};
    }
    PresentRows rows =
        present_changed_rows(t.pixels.data(), frame.pixels, frame.width, frame.height);
    if (rows.first > rows.last) return rows;
    size_t at = size_t(rows.first) * size_t(frame.width);
    size_t changed = size_t(rows.last - rows.first + 1) * size_t(frame.width);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, rows.first, frame.width, rows.last - rows.first + 1,
                    GL_BGRA, GL_UNSIGNED_BYTE, frame.pixels + at);
    std::memcpy(t.pixels.data() + at, frame.pixels + at, changed * 4);
    return rows;
}

// Draws the texture, which holds the frame; a scissor set by the caller limits it to the rows
// that changed.
void present_draw_unscaled(const DisplayFrame& frame) {
    PresenterState& p = presenter;
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glViewport(0, 0, p.window_width, p.window_height);
    glOrtho(0, p.window_width, p.window_height, 0, -1, 1);
    for (int axis = 0; axis < 2; ++axis) {
        p.mouse_offset[axis] = 0;
        p.mouse_scale[axis] = 1.0f;
    }
    p.mouse_last[0] = frame.width - 1;
    p.mouse_last[1] = frame.height - 1;
    // At its natural size with nearest sampling, texel (x, y) lands exactly on pixel (x, y).
    glEnable(GL_TEXTURE_2D);
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex2i(0, 0);
    glTexCoord2f(1, 0);
    glVertex2i(frame.width, 0);
    glTexCoord2f(1, 1);
    glVertex2i(frame.width, frame.height);
    glTexCoord2f(0, 1);
    glVertex2i(0, frame.height);
    glEnd();
    glDisable(GL_TEXTURE_2D);
}

void present_draw_scaled(const DisplayFrame& frame, const PresentFit& fit) {
    PresenterState& p = presenter;
    glBindTexture(GL_TEXTURE_2D, 4294967295u);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, frame.width, frame.height, 0, GL_BGRA, GL_UNSIGNED_BYTE,
                 frame.pixels);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluOrtho2D(0, p.target_width, 0, p.target_height);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glScalef(1, -1, 1);
    glTranslatef(0, float(-p.target_height), 0);
    if (fullscreen_mode.load(std::memory_order_relaxed) == 0)
        glViewport(0, 0, p.window_width, p.window_height);
    glEnable(GL_TEXTURE_2D);
    bool smooth = fullscreen_mode.load(std::memory_order_relaxed) == 0 ? p.resize_mode == 2
                                                                       : p.fullscreen_smooth != 0;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, smooth ? GL_LINEAR : GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex2i(fit.x1, fit.y1);
    glTexCoord2f(1, 0);
    glVertex2i(fit.x2, fit.y1);
    glTexCoord2f(1, 1);
    glVertex2i(fit.x2, fit.y2);
    glTexCoord2f(0, 1);
    glVertex2i(fit.x1, fit.y2);
    glEnd();
    glDisable(GL_TEXTURE_2D);
}

// The fourth pass: black over the bars beside a frame whose aspect was kept, so that nothing an
// earlier frame or another program left there shows through.
void present_draw_bars(const PresentFit& fit) {
    PresenterState& p = presenter;
    PresentBars bars = present_bars(fit, p.target_width, p.target_height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluOrtho2D(0, p.target_width, 0, p.target_height);
    glScalef(1, -1, 1);
    glTranslatef(0, float(-p.target_height), 0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glBegin(GL_QUADS);
    glColor3f(0, 0, 0);
    for (const PresentRect& r : {bars.first, bars.second}) {
        glVertex2i(r.x1, r.y1);
        glVertex2i(r.x2, r.y1);
        glVertex2i(r.x2, r.y2);
        glVertex2i(r.x1, r.y2);
    }
    glEnd();
    glColor3f(1, 1, 1);
}
