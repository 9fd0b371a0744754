#include "runtime/platform/platform.h"

// X11 has no Pause or Break message for the window library to pass on, and the close box
// arrives through the window library's own close callback; nothing to attach here.
void platform_window_hooks_install(WindowEventHook) {}
