// Creating the window and entering the window library's event loop, on the initial thread.
#include "runtime/display/window.h"

#include <GL/freeglut.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "runtime/display/present.h"
#include "runtime/input/keys.h"
#include "runtime/platform/platform.h"
#include "runtime/screen/title.h"

namespace {

constexpr unsigned WINDOW_DISPLAY_MODE = GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH;
static_assert(WINDOW_DISPLAY_MODE == 0x12);
// A first size the frame never has, so that the first presentation fits the window to it.
constexpr int INITIAL_WIDTH = 1024;
constexpr int INITIAL_HEIGHT = 552;

// The close box. Where the platform hook keeps the window alive (Windows) this is never reached;
// elsewhere the window library destroys the window after this callback, so drawing stops here
// while the exit sequence finishes.
void on_close() {
    window_event_hook(1, 0, 0);
    presenter.window_alive = 0;
}

// The window library's fatal errors (a display that vanished between the check below and its own
// connection, a missing visual) would end the process through exit(), under the running threads.
void window_library_failed(const char* format, va_list arguments) {
    char reason[256];
    std::vsnprintf(reason, sizeof reason, format, arguments);
    std::fprintf(stderr, "Unveilo cannot open its window: %s.\n", reason);
    platform_exit(1);
}

} // namespace

int window_main(int argc, char** argv) {
    // Without a desktop the window library would end the process with a message of its own that
    // names neither the program nor what is missing: one plain sentence instead, status 1.
    std::string missing = platform_desktop_missing();
    if (!missing.empty()) {
        std::fprintf(stderr, "%s\n", missing.c_str());
        platform_exit(1);
    }
    glutInitErrorFunc(window_library_failed);
    // Mesa's software rasteriser (what runs without a GPU, and under Wine on such machines)
    // starts a worker per core and wakes each several times for every frame drawn. A 640 x 400
    // frame a few times a second is small work for the drawing thread alone; without the
    // workers an idle window wakes the system a quarter less. Drivers other than Mesa's ignore
    // the variable, and one set by the user is left alone.
    if (std::getenv("LP_NUM_THREADS") == nullptr) platform_setenv("LP_NUM_THREADS", "0");
    glutInit(&argc, argv);
    glutInitDisplayMode(WINDOW_DISPLAY_MODE);
    glutInitWindowSize(INITIAL_WIDTH, INITIAL_HEIGHT);
    // The title the program stored before this point is used for the window; one stored after
    // it is still pending and is applied by the first redisplay tick, so the last one wins.
    std::string title = title_for_window_creation();
    glutCreateWindow(title.c_str());
    glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_CONTINUE_EXECUTION);
    glutCloseFunc(on_close);
    platform_window_hooks_install(window_event_hook,
                                  window_resizable_setting.load(std::memory_order_relaxed) != 0);
    register_window_callbacks();
    glutMainLoop();
    // The window library returns once its last window is gone (the close box on X11). The
    // process ends in the display thread's exit sequence, once the program thread has parked;
    // returning from main here would run the static destructors under the running threads.
    for (;;) platform_sleep_ms(1000);
}
