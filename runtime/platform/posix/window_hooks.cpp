#include "runtime/platform/platform.h"

// X11 has no Pause or Break message for the window library to pass on, the close box arrives
// through the window library's own close callback, raw mouse movement is not asked for, and the
// window manager owns the frame; nothing to attach here.
void platform_window_hooks_install(WindowEventHook, bool) {}

void platform_window_fullscreen_style() {}
