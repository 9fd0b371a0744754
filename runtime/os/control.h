#pragma once
// The control words of the upper families that the shell runner must touch: the display thread's
// shell handshake, the presenter's full-screen request and the console switches of the title
// statements. This header is the only place in the family that reaches them, so that moving
// those words to a lower family changes these lines and nothing else.
#include <atomic>
#include <cstdint>

#include "runtime/base/control.h"
#include "runtime/screen/title.h"

inline std::atomic<int32_t>& os_shell_running() {
    return shell_running;
}
inline std::atomic<int32_t>& os_fullscreen_request() {
    return fullscreen_request;
}
inline std::atomic<int32_t>& os_fullscreen_mode() {
    return fullscreen_mode;
}
// A console build with its console output on runs commands in its own console.
inline bool os_console_path() {
    return title_state.console_enabled != 0 && title_state.console_shown != 0;
}
