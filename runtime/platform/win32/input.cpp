// Windows back end of the keyboard-state query. GetKeyState answers from the input state the
// system keeps for the calling thread's queue, which is what the lock-key poll has always read.
#include "runtime/platform/platform.h"

#include <windows.h>

namespace {

// The low bit of GetKeyState is the key's toggle, the high bit says it is down now.
bool toggled(int virtual_key) {
    return (GetKeyState(virtual_key) & 0x0001) != 0;
}
bool down(int virtual_key) {
    return (GetKeyState(virtual_key) & 0x8000) != 0;
}

} // namespace

uint32_t platform_lock_key_state(bool) {
    struct Probe {
        int virtual_key;
        bool toggle;
        uint32_t bit;
    };
    static constexpr Probe probes[] = {
        {VK_SCROLL, true, KEYBOARD_SCROLL_LOCK_ON},
        {VK_CAPITAL, true, KEYBOARD_CAPS_LOCK_ON},
        {VK_NUMLOCK, true, KEYBOARD_NUM_LOCK_ON},
        {VK_SCROLL, false, KEYBOARD_SCROLL_LOCK_DOWN},
        {VK_LSHIFT, false, KEYBOARD_LEFT_SHIFT_DOWN},
        {VK_RSHIFT, false, KEYBOARD_RIGHT_SHIFT_DOWN},
        {VK_LCONTROL, false, KEYBOARD_LEFT_CTRL_DOWN},
        {VK_RCONTROL, false, KEYBOARD_RIGHT_CTRL_DOWN},
        {VK_LMENU, false, KEYBOARD_LEFT_ALT_DOWN},
        {VK_RMENU, false, KEYBOARD_RIGHT_ALT_DOWN},
    };
    uint32_t state = 0;
    for (const Probe& probe : probes) {
        bool set = probe.toggle ? toggled(probe.virtual_key) : down(probe.virtual_key);
        if (set) state |= probe.bit;
    }
    return state;
}
