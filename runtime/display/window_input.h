#pragma once
// The window library's keyboard and mouse numbers, translated into the key layer's own codes
// (runtime/input/keys.h). This is the only place outside window.cpp and present.cpp that knows
// freeglut's numbers; it includes no freeglut header, so that the translation can be tested
// without a window system, and present.cpp checks every number below against freeglut's own
// names at compile time.
#include <cstdint>

// glutGetModifiers() bits.
constexpr int WINDOW_MODIFIER_SHIFT = 1;
constexpr int WINDOW_MODIFIER_CTRL = 2;
constexpr int WINDOW_MODIFIER_ALT = 4;

// GLUT_KEY_* numbers of glutSpecialFunc.
constexpr int WINDOW_KEY_F1 = 1; // F1-F12 are 1-12
constexpr int WINDOW_KEY_F11 = 11;
constexpr int WINDOW_KEY_F12 = 12;
constexpr int WINDOW_KEY_LEFT = 100;
constexpr int WINDOW_KEY_UP = 101;
constexpr int WINDOW_KEY_RIGHT = 102;
constexpr int WINDOW_KEY_DOWN = 103;
constexpr int WINDOW_KEY_PAGE_UP = 104;
constexpr int WINDOW_KEY_PAGE_DOWN = 105;
constexpr int WINDOW_KEY_HOME = 106;
constexpr int WINDOW_KEY_END = 107;
constexpr int WINDOW_KEY_INSERT = 108;
constexpr int WINDOW_KEY_SHIFT_L = 112;
constexpr int WINDOW_KEY_SHIFT_R = 113;
constexpr int WINDOW_KEY_CTRL_L = 114;
constexpr int WINDOW_KEY_CTRL_R = 115;
constexpr int WINDOW_KEY_ALT_L = 116;
constexpr int WINDOW_KEY_ALT_R = 117;

// glutMouseFunc buttons and states; the wheel may also arrive as buttons 3 (up) and 4 (down).
constexpr int WINDOW_BUTTON_LEFT = 0;
constexpr int WINDOW_BUTTON_MIDDLE = 1;
constexpr int WINDOW_BUTTON_RIGHT = 2;
constexpr int WINDOW_BUTTON_DOWN = 0;

// glutKeyboardFunc / glutKeyboardUpFunc: `key` is the character, `modifiers` glutGetModifiers().
void window_key_char(unsigned char key, int modifiers, bool down);
// glutSpecialFunc / glutSpecialUpFunc. Keys without a code of ours are ignored.
void window_key_special(int special_key, bool down);
// glutMouseFunc, in window coordinates.
void window_mouse_button(int button, int state, int x, int y);
// glutMotionFunc and glutPassiveMotionFunc.
void window_mouse_motion(int x, int y);
// glutMouseWheelFunc: `direction` > 0 up, < 0 down, 0 nothing.
void window_mouse_wheel(int wheel, int direction, int x, int y);
