// X11 needs no hooks on the window library; what it does need is a display, checked before the
// library starts, because the library's own answer to a missing one is a line of its own and an
// exit status of its own, and the same plain ending when the display goes away later.
#include "runtime/platform/platform.h"

#include <X11/Xlib.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

namespace {

int desktop_lost(Display* display) {
    std::fprintf(stderr, "Unveilo lost its desktop session: the display \"%s\" went away.\n",
                 DisplayString(display));
    platform_exit(1);
}

} // namespace

void platform_end_when_desktop_lost() {
    // Xlib keeps one handler for the whole process, so it covers the window library's connection
    // too; loaded as in the check above.
    void* library = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!library) return;
    using Handler = int (*)(Display*);
    auto set_handler = reinterpret_cast<Handler (*)(Handler)>(dlsym(library, "XSetIOErrorHandler"));
    if (set_handler) set_handler(desktop_lost);
}

// Mesa's GLX_MESA_copy_sub_buffer. The GLX calls are looked up in the process, which the window
// library has linked with libGL, so that programs without a window do not need it. The answer is
// fixed for the process: one display, one driver.
bool platform_show_back_buffer_rows(int32_t y, int32_t height, int32_t width) {
    using CurrentDisplay = Display* (*)();
    using CurrentDrawable = unsigned long (*)();
    using Extensions = const char* (*)(Display*, int);
    using CopySubBuffer = void (*)(Display*, unsigned long, int, int, int, int);
    using ProcAddress = void* (*)(const unsigned char*);
    static CurrentDisplay current_display;
    static CurrentDrawable current_drawable;
    static CopySubBuffer copy_sub_buffer;
    static int state = 0; // 0 not looked up, 1 available, -1 not
    if (state == 0) {
        state = -1;
        current_display =
            reinterpret_cast<CurrentDisplay>(dlsym(RTLD_DEFAULT, "glXGetCurrentDisplay"));
        current_drawable =
            reinterpret_cast<CurrentDrawable>(dlsym(RTLD_DEFAULT, "glXGetCurrentDrawable"));
        auto extensions =
            reinterpret_cast<Extensions>(dlsym(RTLD_DEFAULT, "glXQueryExtensionsString"));
        auto proc_address =
            reinterpret_cast<ProcAddress>(dlsym(RTLD_DEFAULT, "glXGetProcAddressARB"));
        Display* display = current_display ? current_display() : nullptr;
        const char* names =
            display && extensions ? extensions(display, DefaultScreen(display)) : nullptr;
        if (names && proc_address && current_drawable &&
            std::strstr(names, "GLX_MESA_copy_sub_buffer")) {
            copy_sub_buffer = reinterpret_cast<CopySubBuffer>(
                proc_address(reinterpret_cast<const unsigned char*>("glXCopySubBufferMESA")));
            if (copy_sub_buffer) state = 1;
        }
    }
    if (state != 1) return false;
    Display* display = current_display();
    unsigned long drawable = current_drawable();
    if (!display || !drawable) return false;
    copy_sub_buffer(display, drawable, 0, y, width, height);
    return true;
}
