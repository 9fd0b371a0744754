// A window procedure wrapped around the window library's: it keeps the window on WM_CLOSE and
// passes the close request, Pause and Ctrl+Break to the run-time, which the library's stock
// callbacks never deliver.
#include <windows.h>

#include "runtime/platform/platform.h"

namespace {

// Written once on the window thread before the procedure is replaced; read only there.
WindowEventHook event_hook = nullptr;
WNDPROC library_procedure = nullptr;

constexpr int32_t HOOK_CLOSE = 1;
constexpr int32_t HOOK_KEY = 2;
constexpr int32_t KEY_PAUSE_CODE = 100019;
constexpr int32_t KEY_BREAK_CODE = 100318;
// Caption, system menu, minimise and maximise boxes, clipping; no sizing frame.
constexpr LONG_PTR FIXED_WINDOW_STYLE =
    WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
static_assert(FIXED_WINDOW_STYLE == 0x06CB0000);

LRESULT CALLBACK hooked_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
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
    default: break;
    }
    return CallWindowProcA(library_procedure, window, message, w, l);
}

BOOL CALLBACK find_library_window(HWND window, LPARAM found) {
    char class_name[32] = {};
    GetClassNameA(window, class_name, sizeof class_name);
    if (lstrcmpA(class_name, "FREEGLUT") != 0) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

} // namespace

void platform_window_hooks_install(WindowEventHook hook) {
    HWND window = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), find_library_window, reinterpret_cast<LPARAM>(&window));
    if (!window) return;
    event_hook = hook;
    library_procedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(hooked_procedure)));
    SetWindowLongPtrA(window, GWL_STYLE, FIXED_WINDOW_STYLE | WS_VISIBLE);
    SetWindowPos(window, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
}
