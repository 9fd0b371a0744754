// X11 needs no hooks on the window library; what it does need is a display, checked before the
// library starts, because the library's own answer to a missing one is a line of its own and an
// exit status of its own.
#include "runtime/platform/platform.h"

#include <X11/Xlib.h>
#include <cstdlib>
#include <dlfcn.h>

// X11 has no Pause or Break message for the window library to pass on, the close box arrives
// through the window library's own close callback, raw mouse movement is not asked for, and the
// window manager owns the frame; nothing to attach here.
void platform_window_hooks_install(WindowEventHook, bool) {}

void platform_window_fullscreen_style() {}

std::string platform_desktop_missing() {
    const char* display_name = std::getenv("DISPLAY");
    if (!display_name || !*display_name)
        return "Unveilo needs a desktop session: no display was found (DISPLAY is not set).";
    // A connection of our own, opened and closed again, tells whether the window library's will
    // succeed. libX11 is loaded rather than linked, as for the keyboard state; where it cannot
    // be loaded the window library, which links it, could not start either way, and says so.
    void* library = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!library) return {};
    auto open_display = reinterpret_cast<Display* (*)(const char*)>(dlsym(library, "XOpenDisplay"));
    auto close_display = reinterpret_cast<int (*)(Display*)>(dlsym(library, "XCloseDisplay"));
    if (!open_display || !close_display) return {};
    Display* display = open_display(display_name);
    if (!display)
        return std::string("Unveilo needs a desktop session: the display \"") + display_name +
               "\" cannot be opened.";
    close_display(display);
    return {};
}
