// A window procedure wrapped around the window library's: it keeps the window on WM_CLOSE and
// passes the close request, Pause, Ctrl+Break and raw mouse movement to the run-time, which the
// library's stock callbacks never deliver. It also gives the window the style the program chose.
#include <windows.h>

#include "runtime/platform/platform.h"
#include "runtime/platform/window_rules.h"

static_assert(WINDOW_STYLE_POPUP == WS_POPUP && WINDOW_STYLE_VISIBLE == WS_VISIBLE);
static_assert(WINDOW_STYLE_CLIP_SIBLINGS == WS_CLIPSIBLINGS &&
              WINDOW_STYLE_CLIP_CHILDREN == WS_CLIPCHILDREN);
static_assert(WINDOW_STYLE_CAPTION == WS_CAPTION && WINDOW_STYLE_SYSMENU == WS_SYSMENU &&
              WINDOW_STYLE_THICKFRAME == WS_THICKFRAME);
static_assert(WINDOW_STYLE_MINIMIZEBOX == WS_MINIMIZEBOX &&
              WINDOW_STYLE_MAXIMIZEBOX == WS_MAXIMIZEBOX);
static_assert(WINDOW_MESSAGE_INPUT == WM_INPUT && WINDOW_MESSAGE_MOUSE_FIRST == WM_MOUSEFIRST);
static_assert(WINDOW_MESSAGE_MOUSE_LAST == WM_MOUSEHWHEEL);
static_assert(RAW_INPUT_TYPE_MOUSE == RIM_TYPEMOUSE &&
              RAW_MOUSE_MOVE_ABSOLUTE == MOUSE_MOVE_ABSOLUTE &&
              RAW_INPUT_FLAG_INPUT_SINK == RIDEV_INPUTSINK);
static_assert(window_style(false) ==
              ((WS_OVERLAPPEDWINDOW & ~WS_THICKFRAME) | WS_CLIPSIBLINGS | WS_CLIPCHILDREN));

namespace {

// Written on the window thread before the procedure is replaced; read only there afterwards.
WindowEventHook event_hook = nullptr;
WNDPROC library_procedure = nullptr;
bool window_resizable = false;
// Window thread only: raw mouse input has been asked for (once) / was granted.
bool raw_mouse_requested = false;
bool raw_mouse_registered = false;

constexpr int32_t HOOK_CLOSE = 1;
constexpr int32_t HOOK_KEY = 2;
constexpr int32_t HOOK_RAW_MOUSE = 3;
constexpr int32_t KEY_PAUSE_CODE = 100019;
constexpr int32_t KEY_BREAK_CODE = 100318;

void request_raw_mouse(HWND window) {
    raw_mouse_requested = true;
    RAWINPUTDEVICE device{};
    device.usUsagePage = RAW_INPUT_USAGE_PAGE_GENERIC;
    device.usUsage = RAW_INPUT_USAGE_MOUSE;
    device.dwFlags = RIDEV_INPUTSINK;
    device.hwndTarget = window;
    raw_mouse_registered = RegisterRawInputDevices(&device, 1, sizeof device) != FALSE;
}

void take_raw_input(LPARAM l) {
    // The header size must be this build's own: 16 bytes on 32-bit Windows, 24 on 64-bit, where
    // a 16-byte header size makes every read fail.
    RAWINPUT packet{};
    UINT size = sizeof packet;
    UINT read = GetRawInputData(reinterpret_cast<HRAWINPUT>(l), RID_INPUT, &packet, &size,
                                sizeof(RAWINPUTHEADER));
    if (read == UINT(-1) || read < sizeof(RAWINPUTHEADER)) return;
    RawMouseMove move = raw_mouse_move(packet.header.dwType, packet.data.mouse.usFlags,
                                       packet.data.mouse.lLastX, packet.data.mouse.lLastY);
    if (move.moved) event_hook(HOOK_RAW_MOUSE, move.dx, move.dy);
}

LRESULT CALLBACK hooked_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (!raw_mouse_requested && window_message_is_mouse(message)) request_raw_mouse(window);
    switch (message) {
    case WM_CLOSE:
        event_hook(HOOK_CLOSE, 0, 0);
        return 0; // handled: the exit sequence ends the process, the window stays until then
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYUP: {
        bool down = message == WM_KEYDOWN || message == WM_SYSKEYDOWN;
        if (w == VK_PAUSE) event_hook(HOOK_KEY, KEY_PAUSE_CODE, down ? 1 : -1);
        if (w == VK_CANCEL) event_hook(HOOK_KEY, KEY_BREAK_CODE, down ? 1 : -1);
        break;
    }
    case WM_INPUT:
        if (raw_mouse_registered) take_raw_input(l);
        break; // the default procedure still has to see WM_INPUT to release the packet
    default: break;
    }
    return CallWindowProcA(library_procedure, window, message, w, l);
}

// The first of the window library's windows on this thread other than `skip`.
struct WindowSearch {
    HWND skip = nullptr;
    HWND found = nullptr;
};
BOOL CALLBACK find_library_window(HWND window, LPARAM search_address) {
    auto& search = *reinterpret_cast<WindowSearch*>(search_address);
    char class_name[32] = {};
    GetClassNameA(window, class_name, sizeof class_name);
    if (window == search.skip || lstrcmpA(class_name, "FREEGLUT") != 0) return TRUE;
    search.found = window;
    return FALSE;
}
HWND library_window(HWND skip) {
    WindowSearch search{skip};
    EnumThreadWindows(GetCurrentThreadId(), find_library_window, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Window thread only: the top-level window the procedure is attached to.
HWND main_window = nullptr;

// A new style takes effect on the frame only once the window is told its frame changed.
void restyle(HWND window, LONG_PTR style) {
    SetWindowLongPtrA(window, GWL_STYLE, style);
    SetWindowPos(window, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
}

} // namespace

void platform_window_hooks_install(WindowEventHook hook, bool resizable) {
    HWND window = library_window(nullptr);
    if (!window) return;
    main_window = window;
    event_hook = hook;
    window_resizable = resizable;
    library_procedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(hooked_procedure)));
    restyle(window, LONG_PTR(window_style(resizable) | WS_VISIBLE));
}

void platform_window_fullscreen_style() {
    // The window library makes a window of its own for full screen, beside the top-level one.
    HWND window = library_window(main_window);
    if (!window) return;
    auto style = uint32_t(GetWindowLongPtrA(window, GWL_STYLE));
    restyle(window, LONG_PTR(window_fullscreen_style(style, window_resizable)));
}

// Every Windows program starts on a desktop, even one started from a service's session.
std::string platform_desktop_missing() {
    return {};
}

void platform_end_when_desktop_lost() {}

// Windows' swap may exchange the buffers, and WGL offers no copy of part of the back buffer.
bool platform_show_back_buffer_rows(int32_t, int32_t, int32_t) {
    return false;
}
