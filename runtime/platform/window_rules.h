#pragma once
// The decisions of the window procedure that the Windows back end wraps around the window
// library's, kept free of <windows.h> so that tests check them on every platform. Numbers are
// the Windows API's own; win32/window_hooks.cpp asserts that they match its headers.
#include <cstdint>

// Window style bits.
constexpr uint32_t WINDOW_STYLE_POPUP = 0x80000000u;
constexpr uint32_t WINDOW_STYLE_VISIBLE = 0x10000000u;
constexpr uint32_t WINDOW_STYLE_CLIP_SIBLINGS = 0x04000000u;
constexpr uint32_t WINDOW_STYLE_CLIP_CHILDREN = 0x02000000u;
constexpr uint32_t WINDOW_STYLE_CAPTION = 0x00C00000u;
constexpr uint32_t WINDOW_STYLE_SYSMENU = 0x00080000u;
constexpr uint32_t WINDOW_STYLE_THICKFRAME = 0x00040000u;
constexpr uint32_t WINDOW_STYLE_MINIMIZEBOX = 0x00020000u;
constexpr uint32_t WINDOW_STYLE_MAXIMIZEBOX = 0x00010000u;

// The frame of a top-level window, as used to turn a client size into a window size: caption,
// system menu, minimise and maximise boxes, and the sizing frame only when the program asked
// for a resizable window.
constexpr uint32_t window_frame_style(bool resizable) {
    return WINDOW_STYLE_CAPTION | WINDOW_STYLE_SYSMENU | WINDOW_STYLE_MINIMIZEBOX |
           WINDOW_STYLE_MAXIMIZEBOX | (resizable ? WINDOW_STYLE_THICKFRAME : 0u);
}

// The style of the top-level window itself: the frame plus clipping of siblings and children,
// which an OpenGL window needs so that nothing else paints into its pixel format.
constexpr uint32_t window_style(bool resizable) {
    return window_frame_style(resizable) | WINDOW_STYLE_CLIP_SIBLINGS | WINDOW_STYLE_CLIP_CHILDREN;
}

// Full screen: the frame's bits go (whichever of them the window has) and the window becomes a
// pop-up; every other bit, visibility and clipping included, stays as it was.
constexpr uint32_t window_fullscreen_style(uint32_t style, bool resizable) {
    return (style & ~window_frame_style(resizable)) | WINDOW_STYLE_POPUP;
}

// Messages.
constexpr uint32_t WINDOW_MESSAGE_INPUT = 0x00FF;       // WM_INPUT
constexpr uint32_t WINDOW_MESSAGE_MOUSE_FIRST = 0x0200; // WM_MOUSEMOVE
constexpr uint32_t WINDOW_MESSAGE_MOUSE_LAST = 0x020E;  // WM_MOUSEHWHEEL

// Raw mouse input is asked for the first time the window handles a mouse message; WM_INPUT
// itself cannot come before that.
constexpr bool window_message_is_mouse(uint32_t message) {
    return message >= WINDOW_MESSAGE_MOUSE_FIRST && message <= WINDOW_MESSAGE_MOUSE_LAST;
}

// Raw input: device type and the mouse packet's movement flag.
constexpr uint32_t RAW_INPUT_TYPE_MOUSE = 0;         // RIM_TYPEMOUSE
constexpr uint16_t RAW_MOUSE_MOVE_ABSOLUTE = 0x0001; // MOUSE_MOVE_ABSOLUTE
constexpr uint16_t RAW_INPUT_USAGE_PAGE_GENERIC = 1; // generic desktop controls
constexpr uint16_t RAW_INPUT_USAGE_MOUSE = 2;
constexpr uint32_t RAW_INPUT_FLAG_INPUT_SINK = 0x100; // RIDEV_INPUTSINK: also in the background

// What one raw input packet passes to the run-time's hook (kind 3): the movement of a mouse
// packet that moved. Other devices' packets, packets without movement, and packets that carry
// an absolute position (tablets, remote sessions: their numbers are a place, not a movement)
// pass nothing.
struct RawMouseMove {
    bool moved = false;
    int32_t dx = 0;
    int32_t dy = 0;
};
constexpr RawMouseMove raw_mouse_move(uint32_t type, uint16_t flags, int32_t last_x,
                                      int32_t last_y) {
    if (type != RAW_INPUT_TYPE_MOUSE || (flags & RAW_MOUSE_MOVE_ABSOLUTE) != 0) return {};
    if (last_x == 0 && last_y == 0) return {};
    return {true, last_x, last_y};
}
