// The window procedure's decisions: the window styles the program's setting chooses, when raw
// mouse input is asked for, and which raw packets reach the run-time's hook.
#include "runtime/platform/window_rules.h"

#include <gtest/gtest.h>

namespace {

TEST(window_style, FixedOrSizingFrame) {
    struct Case {
        bool resizable;
        uint32_t window, frame;
    };
    const Case cases[] = {{false, 0x06CB0000u, 0x00CB0000u}, {true, 0x06CF0000u, 0x00CF0000u}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.resizable);
        EXPECT_EQ(window_style(c.resizable), c.window);
        EXPECT_EQ(window_frame_style(c.resizable), c.frame);
        EXPECT_EQ((window_style(c.resizable) & WINDOW_STYLE_THICKFRAME) != 0, c.resizable);
    }
}

TEST(window_fullscreen_style, DropsTheFrameKeepsTheRest) {
    struct Case {
        uint32_t style;
        bool resizable;
        uint32_t expected;
    };
    const Case cases[] = {
        // The top-level window, visible: clipping and visibility stay, the frame goes.
        {0x16CB0000u, false, 0x96000000u},
        {0x16CF0000u, true, 0x96000000u},
        // A fixed-frame setting leaves a sizing frame the window somehow has.
        {0x16CF0000u, false, 0x96040000u},
        // Already a pop-up without a frame: unchanged.
        {0x96000000u, false, 0x96000000u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.style << " " << c.resizable);
        EXPECT_EQ(window_fullscreen_style(c.style, c.resizable), c.expected);
    }
}

TEST(window_message_is_mouse, OnlyTheMouseRange) {
    for (uint32_t message : {0x0200u, 0x0201u, 0x020Au, 0x020Eu}) // move, button, wheels
        EXPECT_TRUE(window_message_is_mouse(message)) << message;
    for (uint32_t message : {0x00FFu, 0x0100u, 0x01FFu, 0x020Fu, 0x0010u}) // input, keys, close
        EXPECT_FALSE(window_message_is_mouse(message)) << message;
}

TEST(raw_mouse_move, OnlyRelativeMouseMovement) {
    struct Case {
        uint32_t type;
        uint16_t flags;
        int32_t x, y;
        bool moved;
    };
    const Case cases[] = {
        {RAW_INPUT_TYPE_MOUSE, 0, 5, -3, true},
        {RAW_INPUT_TYPE_MOUSE, 0, 0, 7, true},
        {RAW_INPUT_TYPE_MOUSE, 0, -70000, 0, true}, // the hook narrows to 16 bits, not this
        {RAW_INPUT_TYPE_MOUSE, 0, 0, 0, false},     // a button or wheel packet without movement
        {RAW_INPUT_TYPE_MOUSE, RAW_MOUSE_MOVE_ABSOLUTE, 30000, 20000, false},
        {1, 0, 5, 5, false}, // keyboard
        {2, 0, 5, 5, false}, // other device
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.type << " " << c.flags << " " << c.x << "," << c.y);
        RawMouseMove move = raw_mouse_move(c.type, c.flags, c.x, c.y);
        EXPECT_EQ(move.moved, c.moved);
        EXPECT_EQ(move.dx, c.moved ? c.x : 0);
        EXPECT_EQ(move.dy, c.moved ? c.y : 0);
    }
}

} // namespace
