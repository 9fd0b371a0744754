// The wrapped window procedure on a real window: what reaches the run-time's hook, which style
// the window gets, and when raw mouse input is asked for. The window stands in for the window
// library's (same class name), so no OpenGL is needed.
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "runtime/platform/platform.h"
#include "runtime/platform/window_rules.h"

namespace {

std::vector<std::array<int32_t, 3>> hook_calls;

int32_t record_hook(int32_t kind, int32_t a, int32_t b) {
    hook_calls.push_back({kind, a, b});
    return 0;
}

HWND library_like_window() {
    static bool registered = false;
    if (!registered) {
        WNDCLASSA window_class{};
        window_class.lpfnWndProc = DefWindowProcA;
        window_class.hInstance = GetModuleHandleA(nullptr);
        window_class.lpszClassName = "FREEGLUT";
        registered = RegisterClassA(&window_class) != 0;
    }
    return CreateWindowExA(0, "FREEGLUT", "test", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 320, 200,
                           nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

uint32_t style_of(HWND window) {
    return uint32_t(GetWindowLongPtrA(window, GWL_STYLE));
}

UINT raw_devices_registered(RAWINPUTDEVICE* device) {
    UINT count = 1;
    UINT got = GetRegisteredRawInputDevices(device, &count, sizeof *device);
    return got == UINT(-1) ? 0 : got;
}

// The procedure can be attached once per process, as in the program: one test walks through it.
TEST(Win32WindowHooks, the_wrapped_procedure_on_a_real_window) {
    HWND window = library_like_window();
    ASSERT_NE(window, nullptr);
    platform_window_hooks_install(record_hook, false);

    // The fixed frame: no sizing border, everything else of the top-level style.
    EXPECT_EQ(style_of(window) & window_style(true), window_style(false));
    EXPECT_NE(style_of(window) & WS_VISIBLE, 0u);

    // The close box is reported and the window kept.
    EXPECT_EQ(SendMessageA(window, WM_CLOSE, 0, 0), 0);
    EXPECT_TRUE(IsWindow(window));
    SendMessageA(window, WM_KEYDOWN, VK_PAUSE, 0);
    SendMessageA(window, WM_KEYUP, VK_PAUSE, 0);
    SendMessageA(window, WM_KEYDOWN, VK_CANCEL, 0);
    SendMessageA(window, WM_KEYDOWN, 'A', 0); // any other key is the library's alone
    std::vector<std::array<int32_t, 3>> expected = {
        {1, 0, 0}, {2, 100019, 1}, {2, 100019, -1}, {2, 100318, 1}};
    EXPECT_EQ(hook_calls, expected);

    // Raw mouse input is asked for at the first mouse message, for this window, in the
    // background too.
    RAWINPUTDEVICE device{};
    EXPECT_EQ(raw_devices_registered(&device), 0u);
    SendMessageA(window, WM_MOUSEMOVE, 0, MAKELPARAM(10, 10));
    ASSERT_EQ(raw_devices_registered(&device), 1u);
    EXPECT_EQ(device.usUsagePage, 1);
    EXPECT_EQ(device.usUsage, 2);
    EXPECT_EQ(device.dwFlags, DWORD(RIDEV_INPUTSINK));
    EXPECT_EQ(device.hwndTarget, window);
    // A packet that cannot be read passes nothing on.
    hook_calls.clear();
    SendMessageA(window, WM_INPUT, RIM_INPUT, 0);
    EXPECT_TRUE(hook_calls.empty());

    // Full screen: the window library's second window loses exactly the frame bits.
    HWND fullscreen = library_like_window();
    ASSERT_NE(fullscreen, nullptr);
    SetWindowLongPtrA(fullscreen, GWL_STYLE, LONG_PTR(window_style(true) | WS_VISIBLE));
    platform_window_fullscreen_style();
    EXPECT_EQ(style_of(fullscreen) & ~(WS_MINIMIZE | WS_MAXIMIZE),
              WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_THICKFRAME);
    EXPECT_EQ(style_of(window) & window_style(true), window_style(false)); // untouched

    DestroyWindow(fullscreen);
    DestroyWindow(window);
}

} // namespace
