#pragma once
// The presenter's OpenGL drawing (present_draw.cpp), for the display callback in present.cpp.
// Window thread only, with the window's GL context current; part of the window library.
#include "runtime/display/compose.h"
#include "runtime/display/present.h"

// Brings the texture of the current window up to date with `frame` and binds it. Returns the
// rows that changed: all of them for a new texture.
PresentRows present_upload_rows(const DisplayFrame& frame);
// Draws the texture, which holds the frame; a scissor set by the caller limits it to the rows
// that changed.
void present_draw_unscaled(const DisplayFrame& frame);
// Draws the frame scaled into `fit`.
void present_draw_scaled(const DisplayFrame& frame, const PresentFit& fit);
// The fourth pass: black over the bars beside a frame whose aspect was kept.
void present_draw_bars(const PresentFit& fit);
