#pragma once
// The control words that the shell runner shares with the families above it: the display thread's
// shell handshake and the presenter's full-screen request (both in base), and the console
// switches of the title statements, which live in the screen family above this one and are
// reached through a hook that start-up sets.
#include <atomic>
#include <cstdint>

#include "runtime/base/control.h"

inline std::atomic<int32_t>& os_shell_running() {
    return shell_running;
}
inline std::atomic<int32_t>& os_fullscreen_request() {
    return fullscreen_request;
}
inline std::atomic<int32_t>& os_fullscreen_mode() {
    return fullscreen_mode;
}
// True when a console build has its console output on: commands then run in its own console.
// Null (the default) means no console, as in every windowed build. Set once at start-up, before
// the program thread runs.
extern bool (*os_console_path_hook)();
inline bool os_console_path() {
    return os_console_path_hook != nullptr && os_console_path_hook();
}
